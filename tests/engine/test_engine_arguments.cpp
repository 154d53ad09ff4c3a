#include "engine/engine_arguments.h"
#include "engine/js_runtime.h"
#include "support/scripts.h"
#include "support/test_main.h"

#include <QFileInfo>
#include <QTemporaryDir>

class TestEngineArguments : public QObject {
    Q_OBJECT

private slots:
    // The version as the build prints it decides which options a download gets:
    // "--progress-delta" from 2024.04.09, the runtime from 2025.11.12; an undated version counts
    // as old.
    void optionsFollowTheBuild_data()
    {
        QTest::addColumn<QString>("version");
        QTest::addColumn<bool>("delta");
        QTest::addColumn<bool>("runtime");
        QTest::newRow("nightly build") << "2025.11.12.232853\n" << true << true;
        QTest::newRow("the build before the runtime") << "2025.11.11" << true << false;
        QTest::newRow("first build with progress-delta") << "2024.4.9" << true << false;
        QTest::newRow("the build before progress-delta") << "2024.04.08" << false << false;
        QTest::newRow("not a date") << "2025.13.40" << false << false;
    }

    void optionsFollowTheBuild()
    {
        QFETCH(QString, version);
        const EngineCapabilities engine{parseEngineVersion(version)};
        EngineArguments::DownloadRun run;
        run.runtimeArguments = EngineArguments::runtimeArguments(
            engine, JsRuntime{JsRuntime::Kind::Node, "/usr/bin/node"});
        const QStringList download = EngineArguments::download(run, engine);
        QTEST(download.contains("--progress-delta"), "delta");
        QTEST(download.contains("--js-runtimes"), "runtime");
    }

    // Stand-ins answer "--version" as written (nothing: the file is missing; "fail": exit 1);
    // the first usable one wins.
    void runtimeChoice_data()
    {
        QTest::addColumn<QStringList>("candidates"); // KIND=ANSWER
        QTest::addColumn<int>("chosen");             // -1: none
        QTest::newRow("Deno 2.3.0 exactly") << QStringList{"deno=deno 2.3.0"} << 0;
        QTest::newRow("Deno too old, then Node 22")
            << QStringList{"deno=deno 2.2.12", "node=v22.0.0"} << 1;
        QTest::newRow("a Node 18 is not used") << QStringList{"node=v18.19.0"} << -1;
        QTest::newRow("missing, failing, then Deno")
            << QStringList{"deno=", "deno=fail", "deno=deno 2.5.6 (stable, release)"} << 2;
    }

    void runtimeChoice()
    {
        QFETCH(QStringList, candidates);
        QFETCH(int, chosen);
        QTemporaryDir dir;
        QList<JsRuntime> runtimes;
        for (const QString &candidate : candidates) {
            const QString path = dir.filePath(QString::number(runtimes.size()));
            const QString answer = candidate.mid(5);
            if (!answer.isEmpty())
                writeScript(path, answer == "fail" ? "exit 1" : "echo '" + answer.toUtf8() + "'");
            runtimes.append(
                {candidate.startsWith("node") ? JsRuntime::Kind::Node : JsRuntime::Kind::Deno,
                 path});
        }
        VersionProbe probe;
        std::optional<JsRuntime> result;
        onAWorker([&] { result = firstUsableRuntime(runtimes, probe); });
        QCOMPARE(result, chosen < 0 ? std::nullopt : std::optional(runtimes.at(chosen)));
    }

    // A probe that timed out is asked again; an answer is remembered.
    void onlyAnswersAreRemembered()
    {
        QTemporaryDir dir;
        const QString engine = dir.filePath("engine");
        writeScript(engine, "[ -f \"$0.asked\" ] || { touch \"$0.asked\"; exec sleep 30; }\n"
                            "echo 2025.11.12; echo >> \"$0.asked\"");
        VersionProbe probe(0.5);
        QList<std::optional<QString>> answers;
        onAWorker([&] {
            for (int i = 0; i < 3; ++i)
                answers << probe.versionText(engine);
        });
        QCOMPARE(answers,
                 (QList<std::optional<QString>>{std::nullopt, "2025.11.12\n", "2025.11.12\n"}));
        QCOMPARE(QFileInfo(engine + ".asked").size(), 1);
    }
};

TOVRIN_TEST(TestEngineArguments);
#include "test_engine_arguments.moc"
