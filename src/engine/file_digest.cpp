#include "engine/file_digest.h"

#include <QCryptographicHash>
#include <QFile>

namespace {
constexpr qint64 kSlice = qint64(4) << 20;
}

Result<QString> sha256OfFile(const QString &path, const CancelToken &cancel)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return AppError(QStringLiteral("Не удалось прочитать загруженный файл."),
                        ErrorKind::FileSystem);
    QCryptographicHash hash(QCryptographicHash::Sha256);
    const qint64 size = file.size();
    // Mapped where the platform allows, so the archive is not copied through a buffer.
    if (uchar *mapped = size > 0 ? file.map(0, size) : nullptr) {
        for (qint64 offset = 0; offset < size; offset += kSlice) {
            if (cancel.isCancelled())
                return CancelToken::stopped();
            const qint64 length = qMin(kSlice, size - offset);
            hash.addData(QByteArrayView(reinterpret_cast<const char *>(mapped) + offset, length));
        }
        file.unmap(mapped);
    } else {
        QByteArray buffer;
        while (!file.atEnd()) {
            if (cancel.isCancelled())
                return CancelToken::stopped();
            buffer = file.read(kSlice);
            if (buffer.isEmpty() && file.error() != QFileDevice::NoError)
                return AppError(QStringLiteral("Не удалось прочитать загруженный файл."),
                                ErrorKind::FileSystem);
            hash.addData(buffer);
        }
    }
    return QString::fromLatin1(hash.result().toHex());
}
