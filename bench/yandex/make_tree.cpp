#include "make_tree.h"

#include <QDir>
#include <QFile>

#include <random>

qint64 makeTree(const QString &root, int files, bool flat)
{
    constexpr int kFanOut = 5; // 5^4 = 625 leaf folders
    constexpr qint64 kMinSize = 4 * 1024;
    constexpr qint64 kMaxSize = 1024 * 1024;
    std::mt19937_64 random(20240601);
    std::uniform_int_distribution<qint64> sizes(kMinSize, kMaxSize);
    const int leaves = kFanOut * kFanOut * kFanOut * kFanOut;
    qint64 total = 0;
    for (int i = 0; i < files; ++i) {
        const int leaf = i % leaves;
        const QString folder = flat ? root
                                    : QStringLiteral("%1/d%2/d%3/d%4/d%5")
                                          .arg(root)
                                          .arg(leaf / 125)
                                          .arg(leaf / 25 % 5)
                                          .arg(leaf / 5 % 5)
                                          .arg(leaf % 5);
        if (!QDir().mkpath(folder))
            return -1;
        QFile file(QStringLiteral("%1/f%2.bin").arg(folder).arg(i, 4, 10, QLatin1Char('0')));
        const qint64 size = sizes(random);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || !file.resize(size))
            return -1;
        total += size;
    }
    return total;
}
