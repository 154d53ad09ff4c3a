// Renders the key states of both screens to PNG files, from the real models driven through
// the test seams (a loopback Yandex Disk stand-in and a scripted engine), for `make
// screenshots`, each in the light and the dark scheme (switched while the window is open, as the
// desktop does). Usage: tovrin_screenshots OUTPUT_FOLDER
#include "app/platform/preference_keys.h"
#include "engine/install_scene.h"
#include "sample_history.h"
#include "ui/components/destination_row.h"
#include "ui/components/history_section.h"
#include "ui/components/link_row.h"
#include "ui/main_window.h"
#include "ui/quality_picker.h"
#include "ui/theme.h"
#include "ui/video_download_view.h"
#include "ui/yandex_download_view.h"
#include "video/video_scene.h"
#include "yandex/fake_yandex_disk.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>

#include <cstdio>

namespace {

QString g_out;

// The folder the pictures show: the user's own downloads folder, not the temporary folder the
// scenes download into.
QString shownFolder()
{
    return QDir::home().filePath(QStringLiteral("Загрузки"));
}

void grab(QWidget *widget, const QString &name)
{
    QCoreApplication::processEvents();
    QTest::qWait(50);
    const QString path = g_out + u'/' + name + QStringLiteral(".png");
    widget->grab().save(path);
    std::printf("%s\n", qPrintable(path));
}

void save(QWidget *widget, const QString &name)
{
    grab(widget, name);
    Theme::setScheme(Theme::Scheme::Dark);
    grab(widget, name + QStringLiteral("-dark"));
    Theme::setScheme(Theme::Scheme::Light);
}

void yandexStates()
{
    DiskScene scene{QString()};
    scene.prefs.setValue(QString(PreferenceKeys::kYandexHistory), encodeHistory(sampleHistory(8)));
    scene.create(); // reads the history
    DownloadManager &manager = *scene.manager;
    // In the window, with its tabs, as the user sees it.
    auto *screen = new YandexDownloadView(manager);
    MainWindow window(screen, new QWidget);
    YandexDownloadView &view = *screen;
    view.destinationRow()->setPath(shownFolder());
    window.resize(760, 800);
    window.show();
    save(&window, "yandex-idle");

    view.historySection()->setExpanded(true);
    save(&window, "yandex-history-expanded");
    view.historySection()->setExpanded(false);

    scene.disk.setRootFolder("Фотографии");
    for (int i = 0; i < 12; ++i)
        scene.disk.addFile(QStringLiteral("/IMG_%1.jpg").arg(i), QByteArray(6'000'000, 'x'));
    scene.files.setBytesPerSecond(1'500'000);
    manager.setPublicLink(FakeYandexDisk::kPublicLink);
    manager.start();
    // The speed is an average over the last seconds of the scene's clock, which the real
    // time drives here.
    QElapsedTimer elapsed;
    elapsed.start();
    const double startedAt = scene.clock.monotonic;
    while (elapsed.elapsed() < 4000) {
        QTest::qWait(50);
        scene.clock.monotonic = startedAt + elapsed.elapsed() / 1000.0;
    }
    save(&window, "yandex-running");
    manager.pause();
    QTest::qWait(300);
    save(&window, "yandex-paused");
    manager.stop();
    (void)QTest::qWaitFor([&] { return manager.state().canStart(); }, 10000);

    manager.setPublicLink(QStringLiteral("https://disk.yandex.ru/d/Removed"));
    manager.start();
    (void)QTest::qWaitFor([&] { return manager.state().canStart(); }, 10000);
    save(&window, "yandex-failed");
}

void videoStates()
{
    VideoScene scene;
    scene.prefs.setValue(QString(PreferenceKeys::kVideoHistory), encodeHistory(sampleHistory(3)));
    // The model read its history at creation; make a new one over the stored list.
    scene.model = std::make_unique<DownloadModel>(DownloadModel::Services{
        scene.prefs, scene.clock, scene.locations, scene.desktop, *scene.engine});
    auto *screen = new VideoDownloadView(*scene.model);
    MainWindow window(new QWidget, screen);
    window.setSelectedSection(AppSection::Video);
    VideoDownloadView &view = *screen;
    view.destinationRow()->setPath(shownFolder());
    window.resize(760, 800);
    window.show();
    save(&window, "video-idle");

    scene.answerAnalysis(
        videoDocument("clip1", "Как устроен двигатель внутреннего сгорания",
                      QStringLiteral("[{\"format_id\":\"137\",\"ext\":\"mp4\",\"height\":1080,"
                                     "\"vcodec\":\"avc1.640028\",\"acodec\":\"none\",\"tbr\":4000,"
                                     "\"filesize\":120000000},"
                                     "{\"format_id\":\"136\",\"ext\":\"mp4\",\"height\":720,"
                                     "\"vcodec\":\"avc1.4d401f\",\"acodec\":\"none\",\"tbr\":2000,"
                                     "\"filesize\":60000000},"
                                     "{\"format_id\":\"140\",\"ext\":\"m4a\",\"vcodec\":\"none\","
                                     "\"acodec\":\"mp4a.40.2\",\"abr\":128,\"language\":\"ru\","
                                     "\"filesize\":4000000}]")),
        QStringLiteral("i=0; while [ $i -lt 300 ]; do i=$((i+1)); "
                       "echo \"tovrin:$((i*100000))|30000000|30000000\"; sleep 0.1; done"));
    scene.model->analysis().setLink(QStringLiteral("https://youtu.be/clip1"));
    scene.model->primaryAction();
    (void)QTest::qWaitFor([&] { return view.picker() != nullptr; }, 15000);
    if (QualityPicker *picker = view.picker()) {
        save(picker, "picker-with-audio");
        picker->setTab(QualityTab::AudioOnly);
        save(picker, "picker-audio-only");
        picker->setTab(QualityTab::VideoOnly);
        save(picker, "picker-video-only");
        picker->setTab(QualityTab::WithAudio);
        for (int i = 0; i < 4; ++i) {
            emit picker->selectWithAudio(scene.model->choices().state().lists.withAudio.first());
            if (i < 3) {
                scene.model->analysis().setLink(QStringLiteral("https://youtu.be/clip1"));
                scene.model->choices().setPickerShown(true);
            }
        }
    }
    QTest::qWait(1500);
    save(&window, "video-jobs");

    QualityPickerContent publication;
    publication.title = QStringLiteral("Подборка: лучшие моменты сезона");
    publication.publicationTitles = {"Первый тайм", "Второй тайм", "Пенальти", "Интервью"};
    publication.withAudioQualities = scene.model->choices().state().lists.withAudio;
    QualityPicker several(publication);
    several.show();
    save(&several, "picker-publication");
}

// A first start: neither the engine nor the runtime is installed yet, and both come slowly
// from a loopback release feed, so the screen shows the install under way.
void engineInstallState()
{
    InstallScene feed;
    feed.server.setBytesPerSecond(2'000'000);
    for (const ReleaseTool &tool : {engineReleaseTool(), runtimeReleaseTool()}) {
        const QByteArray zip =
            buildZip({ZipEntry::file(tool.executableName, "#!/bin/sh\necho 2025.11.12\n", 0755),
                      ZipEntry::file(QStringLiteral("payload.bin"), QByteArray(6'000'000, 'x'))});
        feed.publish(tool, zip, "sha256:" + InstallScene::sha256(zip));
    }
    FakeClock clock;
    clock.wall = QDateTime::currentDateTimeUtc();
    FakeLocations locations(feed.dir.path());
    FakeDesktopServices desktop;
    EnginePreparation engine(feed.installer(engineReleaseTool()), feed.prefs, clock, {},
                             RuntimeSetup{feed.installer(runtimeReleaseTool()), {}});
    DownloadModel model({feed.prefs, clock, locations, desktop, engine});
    VideoDownloadView view(model);
    view.destinationRow()->setPath(shownFolder());
    view.resize(760, 760);
    view.show();
    model.analysis().setLink(QStringLiteral("https://youtu.be/clip1"));
    model.primaryAction();
    QTest::qWait(2500);
    save(&view, "video-engine-install");
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QLocale::setDefault(QLocale(QLocale::Russian, QLocale::Russia));
    if (argc < 2) {
        std::fprintf(stderr, "usage: tovrin_screenshots OUTPUT_FOLDER\n");
        return 2;
    }
    g_out = QString::fromLocal8Bit(argv[1]);
    QDir().mkpath(g_out);
    yandexStates();
    videoStates();
    engineInstallState();
    return 0;
}
