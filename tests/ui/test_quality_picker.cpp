#include "support/test_main.h"
#include "ui/quality_picker.h"

#include <QAbstractButton>
#include <QAccessible>
#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

namespace {

// A sound track: grouping goes by language (and kind), so nothing else is set.
VideoQuality audio(const QString &id, const QString &language)
{
    VideoQuality q;
    q.formatID = id;
    q.language = language;
    return q;
}

} // namespace

class TestQualityPicker : public QObject {
    Q_OBJECT

private slots:
    void audioTracksGroupInFirstSeenOrder()
    {
        const QList<AudioTrackGroup> groups =
            groupAudioTracks({audio("a1", "en"), audio("b1", "de"), audio("a2", "en"),
                              audio("c1", "fr"), audio("b2", "de")});
        QCOMPARE(groups.size(), 3);
        QCOMPARE(groups[0].qualities.size(), 2);
        QCOMPARE(groups[0].qualities[1].formatID, QStringLiteral("a2"));
        QCOMPARE(groups[2].qualities.size(), 1);
        QCOMPARE(groups[2].title, audio("c1", "fr").audioTrackTitle());
    }

    // A publication with a video track alone: the sheet starts on it; a tab with nothing to
    // offer shows only its notice.
    void publicationPicksVideosAndResetsTheTab()
    {
        QualityPickerContent c;
        c.publicationTitles = {"Первое", "Второе", "Третье", "Четвёртое"};
        c.videoOnlyQualities = {VideoQuality()};
        c.startOnVideoOnly = true;
        QualityPicker picker(c);
        picker.show();
        picker.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&picker));
        QVERIFY(picker.publicationPicker()->isVisible());
        QCOMPARE(picker.publicationPicker()->count(), 4);
        QCOMPARE(picker.publicationPicker()->itemText(1), QStringLiteral("Второе из 4"));
        QCOMPARE(picker.allVideosButton()->text(), QStringLiteral("Скачать все видео (4)"));
        QCOMPARE(picker.tab(), QualityTab::VideoOnly);

        // The keyboard starts on the first offer, and Return takes it.
        QSignalSpy videoOnly(&picker, &QualityPicker::selectVideoOnly);
        QCOMPARE(QApplication::focusWidget(), picker.offerRows().first());
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
        QCOMPARE(videoOnly.size(), 1);

        QSignalSpy all(&picker, &QualityPicker::selectAllVideos);
        picker.allVideosButton()->click();
        QCOMPARE(all.size(), 1);

        picker.setTab(QualityTab::WithAudio);
        QCOMPARE(picker.offerRows().size(), 0);
        QCOMPARE(picker.offerTexts().size(), 1);
        QCOMPARE(picker.offerTexts().first()->text(),
                 QStringLiteral("Готовых вариантов со звуком для этого видео нет."));

        // Another video comes as new content (the screen's test follows it); a refresh of the
        // same video keeps the tab the user chose, though another has the offers.
        picker.setContent(c);
        QCOMPARE(picker.tab(), QualityTab::WithAudio);
    }

    // A screen reader's actions on a segment switch the list as a click does.
    void everyWayOfChoosingASegmentSwitchesTheList()
    {
        QualityPickerContent c;
        c.videoOnlyQualities = {VideoQuality()};
        QualityPicker picker(c);
        picker.show();
        const auto act = [&](QualityTab tab, const QString &action) {
            QAccessible::queryAccessibleInterface(picker.tabButton(tab))
                ->actionInterface()
                ->doAction(action);
        };
        act(QualityTab::VideoOnly, QAccessibleActionInterface::toggleAction());
        QCOMPARE(picker.tab(), QualityTab::VideoOnly);
        QCOMPARE(picker.offerRows().size(), 1);
        act(QualityTab::AudioOnly, QAccessibleActionInterface::pressAction());
        QTRY_COMPARE(picker.tab(), QualityTab::AudioOnly);
        QCOMPARE(picker.offerRows().first()->text(), QStringLiteral("Лучшее доступное аудио"));

        // One group "Режим" of three radio buttons; the arrows move the choice, wrapping round.
        QAccessibleInterface *group =
            QAccessible::queryAccessibleInterface(picker.tabButton(QualityTab::WithAudio))
                ->parent();
        QCOMPARE(group->role(), QAccessible::Grouping);
        QCOMPARE(group->text(QAccessible::Name), QStringLiteral("Режим"));
        QCOMPARE(group->childCount(), 3);
        QCOMPARE(group->child(2)->role(), QAccessible::RadioButton);
        QTest::keyClick(picker.tabButton(QualityTab::AudioOnly), Qt::Key_Right);
        QCOMPARE(picker.tab(), QualityTab::VideoOnly);
        QTest::keyClick(picker.tabButton(QualityTab::VideoOnly), Qt::Key_Right);
        QCOMPARE(picker.tab(), QualityTab::WithAudio);
        QCOMPARE(picker.offerTexts().size(), 1); // its empty notice
    }
};

TOVRIN_TEST(TestQualityPicker);
#include "test_quality_picker.moc"
