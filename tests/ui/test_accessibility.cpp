#include "app/platform/preference_keys.h"
#include "sample_history.h"
#include "support/test_main.h"
#include "ui/components/disclosure_header.h"
#include "ui/components/history_section.h"
#include "ui/components/link_row.h"
#include "ui/main_window.h"
#include "ui/quality_picker.h"
#include "ui/video_download_view.h"
#include "ui/yandex_download_view.h"
#include "video/video_scene.h"
#include "yandex/fake_yandex_disk.h"

#include <QAbstractButton>
#include <QAccessible>
#include <QApplication>
#include <QLineEdit>
#include <QRegularExpression>
#include <QTabWidget>
#include <QTest>

namespace {

bool takesTab(const QWidget *w, const QWidget *window)
{
    // A widget that hands its focus on (a tab widget to its tab bar) is not a stop itself.
    return (w->focusPolicy() & Qt::TabFocus) && !w->focusProxy() && w->isEnabled()
           && w->isVisibleTo(window) && w->window() == window;
}

QString spokenName(QWidget *w)
{
    QAccessibleInterface *iface = QAccessible::queryAccessibleInterface(w);
    return iface ? iface->text(QAccessible::Name).trimmed() : QString();
}

// Every control a keyboard or a screen reader can reach, with what a screen reader says of it.
QStringList unnamedControls(QWidget *window)
{
    QStringList unnamed;
    for (QWidget *w : window->findChildren<QWidget *>()) {
        const bool control = qobject_cast<QAbstractButton *>(w) || takesTab(w, window);
        if (control && w->isVisibleTo(window) && spokenName(w).isEmpty())
            unnamed << QString::fromLatin1(w->metaObject()->className()) + u' ' + w->objectName();
    }
    return unnamed;
}

QRect frameIn(const QWidget *w, const QWidget *window)
{
    return QRect(w->mapTo(window, QPoint(0, 0)), w->size());
}

// Tab, pressed from `start` until focus comes back, must reach every control of the visible
// page once, in reading order: top to bottom, and left to right within a line.
void verifyTabOrder(QWidget *window, QWidget *start)
{
    QList<QWidget *> cycle;
    start->setFocus(Qt::TabFocusReason);
    for (int i = 0; i < 100; ++i) {
        QWidget *now = QApplication::focusWidget();
        if (!now || (i > 0 && now == start))
            break;
        cycle << now;
        QTest::keyClick(now, Qt::Key_Tab);
    }
    QVERIFY(!cycle.isEmpty());

    QList<QWidget *> expected;
    for (QWidget *w : window->findChildren<QWidget *>())
        if (takesTab(w, window))
            expected << w;
    for (QWidget *w : expected)
        QVERIFY2(cycle.contains(w),
                 qPrintable(QStringLiteral("Tab never reaches ") + w->metaObject()->className()
                            + u' ' + spokenName(w)));
    QCOMPARE(cycle.size(), expected.size());

    // The cycle may begin anywhere; read it from its top-left control.
    const auto first = std::min_element(cycle.begin(), cycle.end(), [&](QWidget *a, QWidget *b) {
        const QRect ra = frameIn(a, window), rb = frameIn(b, window);
        return std::pair(ra.top(), ra.left()) < std::pair(rb.top(), rb.left());
    });
    std::rotate(cycle.begin(), first, cycle.end());
    for (int i = 1; i < cycle.size(); ++i) {
        const QRect a = frameIn(cycle[i - 1], window), b = frameIn(cycle[i], window);
        const bool sameLine = b.top() < a.bottom() && a.top() < b.bottom();
        const bool after = sameLine ? b.left() > a.left() : b.top() >= a.bottom();
        QVERIFY2(after, qPrintable(QStringLiteral("Tab goes from «%1» to «%2» out of reading order")
                                       .arg(spokenName(cycle[i - 1]), spokenName(cycle[i]))));
    }
}

} // namespace

class TestAccessibility : public QObject {
    Q_OBJECT

private slots:
    // Both screens with their history and settings open: everything is named and Tab walks
    // each page top to bottom.
    void bothScreensAreNamedAndWalkableByTab()
    {
        // An icon name the screens ask for that is not bundled fails here: the renderer warns.
        QTest::failOnWarning(QRegularExpression(QStringLiteral("Cannot open file|QSvgRenderer")));
        DiskScene disk{QString()};
        disk.prefs.setValue(QString(PreferenceKeys::kYandexHistory),
                            encodeHistory(sampleHistory(7)));
        disk.create(); // reads the history

        VideoScene scene;
        scene.prefs.setValue(QString(PreferenceKeys::kVideoHistory),
                             encodeHistory(sampleHistory(2)));
        scene.model = std::make_unique<DownloadModel>(DownloadModel::Services{
            scene.prefs, scene.clock, scene.locations, scene.desktop, *scene.engine});

        auto *yandex = new YandexDownloadView(*disk.manager);
        auto *video = new VideoDownloadView(*scene.model);
        MainWindow window(yandex, video);
        window.resize(760, 1400);
        window.show();
        window.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&window));

        yandex->historySection()->setExpanded(true);
        for (DisclosureHeader *header : yandex->findChildren<DisclosureHeader *>())
            if (!header->isChecked())
                header->click();
        const QStringList unnamed = unnamedControls(&window);
        QVERIFY2(unnamed.isEmpty(), qPrintable(unnamed.join(", ")));
        verifyTabOrder(&window, yandex->linkRow()->field());

        window.setSelectedSection(AppSection::Video);
        video->historySection()->setExpanded(true);
        scene.model->analysis().setLink(QStringLiteral("https://youtu.be/abc")); // a clear button
        QCoreApplication::processEvents();
        const QStringList unnamedVideo = unnamedControls(&window);
        QVERIFY2(unnamedVideo.isEmpty(), qPrintable(unnamedVideo.join(", ")));
        verifyTabOrder(&window, video->linkRow()->field());
    }

    void thePickerIsNamedAndWalkableByTab()
    {
        QualityPickerContent content;
        content.publicationTitles = {"Первое", "Второе"};
        content.withAudioQualities = {DownloadOption{VideoQuality(), QStringLiteral("140")}};
        content.videoOnlyQualities = {VideoQuality()};
        QualityPicker picker(content);
        picker.show();
        picker.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&picker));
        const QStringList unnamed = unnamedControls(&picker);
        QVERIFY2(unnamed.isEmpty(), qPrintable(unnamed.join(", ")));
        QWidget *first = picker.nextInFocusChain();
        while (!takesTab(first, &picker))
            first = first->nextInFocusChain();
        verifyTabOrder(&picker, first);
    }
};

TOVRIN_TEST(TestAccessibility);
#include "test_accessibility.moc"
