#include "support/test_main.h"
#include "ui/quality_picker.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

namespace {

VideoQuality audio(const QString &id, const QString &language)
{
    VideoQuality q;
    q.formatID = id;
    q.ext = QStringLiteral("m4a");
    q.audioCodec = QStringLiteral("mp4a.40.2");
    q.videoCodec = QStringLiteral("none");
    q.audioBitrate = 128;
    q.language = language;
    return q;
}

VideoQuality video(const QString &id, int height, bool withSound)
{
    VideoQuality q;
    q.formatID = id;
    q.ext = QStringLiteral("mp4");
    q.height = height;
    q.width = height * 16 / 9;
    q.videoCodec = QStringLiteral("avc1.640028");
    q.audioCodec = withSound ? QStringLiteral("mp4a.40.2") : QStringLiteral("none");
    return q;
}

QualityPickerContent single()
{
    QualityPickerContent c;
    c.title = QStringLiteral("Клип");
    c.withAudioQualities = {DownloadOption{video("18", 360, true), std::nullopt}};
    c.videoOnlyQualities = {video("137", 1080, false), video("136", 720, false)};
    return c;
}

QStringList rowTitles(const QualityPicker &picker)
{
    QStringList titles;
    for (QAbstractButton *row : picker.offerRows())
        titles.append(row->text());
    return titles;
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
        QCOMPARE(groups[1].qualities.size(), 2);
        QCOMPARE(groups[2].qualities.size(), 1);
        QCOMPARE(groups[2].title, audio("c1", "fr").audioTrackTitle());
    }

    void singleVideoTabsAndChoices()
    {
        QualityPicker picker(single());
        picker.show();
        QVERIFY(!picker.publicationPicker()->isVisible());
        QCOMPARE(picker.tab(), QualityTab::WithAudio);
        QCOMPARE(picker.offerRows().size(), 1);

        picker.offerRows().first()->click();
        QVERIFY(picker.isVisible()); // the model closes the sheet, not the picker

        // No sound-only formats: exactly one "best audio" row (what it queues is the screen's).
        picker.tabButton(QualityTab::AudioOnly)->click();
        QCOMPARE(rowTitles(picker), QStringList{QStringLiteral("Лучшее доступное аудио")});

        picker.tabButton(QualityTab::VideoOnly)->click();
        QCOMPARE(picker.offerRows().size(), 2);

        // Escape dismisses the sheet without a choice.
        QSignalSpy rejected(&picker, &QDialog::rejected);
        QTest::keyClick(&picker, Qt::Key_Escape);
        QCOMPARE(rejected.size(), 1);
        QVERIFY(!picker.isVisible());
    }

    void emptyTabsShowOnlyTheirNotice()
    {
        QualityPickerContent c;
        c.startOnVideoOnly = true;
        QualityPicker picker(c);
        QCOMPARE(picker.tab(), QualityTab::VideoOnly);
        QCOMPARE(picker.offerRows().size(), 0);
        QCOMPARE(picker.offerTexts().size(), 1);
        QCOMPARE(picker.offerTexts().first()->text(),
                 QStringLiteral("Отдельных видеодорожек для этого видео нет."));
        picker.setTab(QualityTab::WithAudio);
        QCOMPARE(picker.offerTexts().first()->text(),
                 QStringLiteral("Готовых вариантов со звуком для этого видео нет."));
    }

    void publicationPicksVideosAndResetsTheTab()
    {
        QualityPickerContent c;
        c.title = QStringLiteral("Публикация");
        c.publicationTitles = {"Первое", "Второе", "Третье", "Четвёртое"};
        c.videoOnlyQualities = {video("137", 1080, false)};
        c.startOnVideoOnly = true;
        QualityPicker picker(c);
        picker.show();
        QVERIFY(picker.publicationPicker()->isVisible());
        QCOMPARE(picker.publicationPicker()->count(), 4);
        QCOMPARE(picker.publicationPicker()->itemText(1), QStringLiteral("Второе из 4"));
        QCOMPARE(picker.allVideosButton()->text(), QStringLiteral("Скачать все видео (4)"));
        QCOMPARE(picker.tab(), QualityTab::VideoOnly);

        QSignalSpy all(&picker, &QualityPicker::selectAllVideos);
        picker.allVideosButton()->click();
        QCOMPARE(all.size(), 1);

        // Another video comes as new content (the screen's test follows it); a refresh of the
        // same video keeps the tab the user chose.
        picker.setTab(QualityTab::AudioOnly);
        picker.setContent(c);
        QCOMPARE(picker.tab(), QualityTab::AudioOnly);
    }
};

TOVRIN_TEST(TestQualityPicker);
#include "test_quality_picker.moc"
