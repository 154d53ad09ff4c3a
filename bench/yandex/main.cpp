// bench_yandex: the helper of bench/yandex/run.sh.
//   bench_yandex make-tree DIR FILES [flat]   sparse data for the folder benchmark (4 levels,
//                                             or all files in one folder)
//   bench_yandex serve-api DATA FILES_BASE [latency=MS] KEY=REL...   API stand-in; prints
//                                             its port
//   bench_yandex run API_BASE LINK DEST PARALLEL        the real manager, headless
//   bench_yandex idle-stall SECONDS           the stall figure of an idle event loop
#include "api_stand_in.h"
#include "headless_run.h"
#include "make_tree.h"

#include <QCoreApplication>
#include <QStringList>

#include <cstdio>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments().mid(1);
    const QString command = args.value(0);
    if (command == QLatin1String("make-tree") && (args.size() == 3 || args.size() == 4)) {
        const qint64 total =
            makeTree(args.at(1), args.at(2).toInt(), args.value(3) == QLatin1String("flat"));
        std::printf("%lld\n", static_cast<long long>(total));
        return total < 0 ? 1 : 0;
    }
    if (command == QLatin1String("serve-api") && args.size() >= 4) {
        QStringList shares = args.mid(3);
        int latencyMs = 0;
        if (shares.value(0).startsWith(QLatin1String("latency=")))
            latencyMs = shares.takeFirst().section('=', 1).toInt();
        return serveApiStandIn(args.at(1), args.at(2), shares, latencyMs);
    }
    if (command == QLatin1String("run") && args.size() == 5)
        return runHeadless(args.at(1), args.at(2), args.at(3), args.at(4).toInt());
    if (command == QLatin1String("idle-stall") && args.size() == 2)
        return measureIdleStall(args.at(1).toDouble());
    std::fprintf(stderr, "usage: bench_yandex make-tree|serve-api|run|idle-stall ...\n");
    return 2;
}
