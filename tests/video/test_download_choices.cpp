#include "support/test_main.h"
#include "video/download_choices.h"

#include <QFile>
#include <QTest>

namespace {

QByteArray dataFile(const char *name)
{
    QFile file(QStringLiteral(TOVRIN_VIDEO_TEST_DATA "/") + QLatin1StringView(name));
    if (!file.open(QIODevice::ReadOnly))
        qFatal("missing test data %s", name);
    return file.readAll();
}

QByteArray singleQuoted(QByteArray json)
{
    return json.replace('\'', '"');
}

QStringList ids(const QList<VideoQuality> &list)
{
    QStringList out;
    for (const VideoQuality &q : list)
        out << q.formatID;
    return out;
}

// "video+sound" or just "video" for options without a merge.
QStringList ids(const QList<DownloadOption> &list)
{
    QStringList out;
    for (const DownloadOption &o : list)
        out << (o.audioFormatID ? o.video.formatID + u'+' + *o.audioFormatID : o.video.formatID);
    return out;
}

DownloadChoices choicesFor(const QByteArray &json)
{
    const Result<VideoMetadata> meta = decodeVideoMetadata(singleQuoted(json));
    if (!meta)
        qFatal("bad fixture: %s", qPrintable(meta.error().message));
    return downloadChoices(meta.value());
}

} // namespace

class TestDownloadChoices : public QObject {
    Q_OBJECT

private slots:
    void decodingFailures()
    {
        for (const char *json :
             {"<html>", "{'id':'a','formats':[{'format_id':'1'}]}",
              "{'id':'a','formats':[{'format_id':'1','ext':'mp4','height':'7'}]}",
              "{'id':'a','formats':[{'format_id':'1','ext':'mp4','filesize':1.5}]}",
              "{'id':'a','formats':{}}", "{'id':'a','entries':[{'id':'b'},{'title':'no id'}]}"}) {
            const Result<VideoMetadata> meta = decodeVideoMetadata(singleQuoted(json));
            QVERIFY2(!meta.ok(), json);
            QCOMPARE(meta.error().kind, ErrorKind::Decoding);
            QVERIFY(!meta.error().message.isEmpty());
        }
    }

    void youtubeShapedVideo()
    {
        const Result<VideoMetadata> meta = decodeVideoMetadata(dataFile("youtube_video.json"));
        QVERIFY(meta.ok());
        const DownloadChoices choices = downloadChoices(meta.value());

        // Storyboards appear nowhere; 59.94 and 60 fps share a slot and the 60 fps one stays;
        // AV1 beats H.264 at 1080p on quality; the flv is video-only but never merged.
        QCOMPARE(ids(choices.withAudio),
                 (QStringList{"399+140-0", "302+140-0", "136+140-0", "18", "17"}));
        QCOMPARE(ids(choices.videoOnly), (QStringList{"399", "302", "136", "5"}));
        // The low-bitrate copy of the original track folds into the medium one; originals
        // first, then higher language preference.
        QCOMPARE(ids(choices.audioOnly), (QStringList{"140-0", "251-0", "251-2", "140-1"}));

        // An option's own texts; the format labels are the quality tests'.
        QCOMPARE(choices.withAudio[0].title(), "1080p");
        QCOMPARE(choices.withAudio[0].detail(), "MP4 · AV1 · звук будет объединён на компьютере");
        QVERIFY(!choices.withAudio[3].requiresMerge());
        QCOMPARE(choices.withAudio[3].detail().replace(QChar(0x00A0), u' '),
                 "MP4 · видео и звук · 13 МБ");
    }

    // One video-only format and these sound formats: the sound the merge takes.
    void bestSound_data()
    {
        QTest::addColumn<QByteArray>("sounds");
        QTest::addColumn<QString>("merged");
        QTest::newRow("original beats higher bitrate")
            << QByteArray("{'format_id':'hi','ext':'m4a','acodec':'mp4a','abr':256},"
                          "{'format_id':'orig','ext':'webm','acodec':'opus','abr':50,"
                          "'format_note':'original'}")
            << "v+orig";
        QTest::newRow("language of the video beats a preference") << QByteArray(
            "{'format_id':'pref','ext':'m4a','acodec':'mp4a','language_preference':5},"
            "{'format_id':'pt','ext':'webm','acodec':'opus','language':' pt-PT '}")
                                                                  << "v+pt";
        QTest::newRow("(default) beats nothing, automatic dub ranks last") << QByteArray(
            "{'format_id':'dub','ext':'m4a','acodec':'mp4a','format_note':'auto-dub'},"
            "{'format_id':'def','ext':'webm','acodec':'opus','format_note':'EN "
            "(default)'},{'format_id':'plain','ext':'webm','acodec':'opus','abr':300}")
                                                                           << "v+def";
        QTest::newRow("m4a beats a better webm; case matters")
            << QByteArray("{'format_id':'w','ext':'webm','acodec':'opus','abr':160},"
                          "{'format_id':'M','ext':'M4A','acodec':'mp4a','abr':200},"
                          "{'format_id':'m','ext':'m4a','acodec':'mp4a','abr':128}")
            << "v+m";
        QTest::newRow("codec-less sound is used only when no sound names a codec")
            << QByteArray("{'format_id':'bare','ext':'m4a','abr':500},"
                          "{'format_id':'named','ext':'webm','acodec':'opus','abr':10}")
            << "v+named";
    }

    void bestSound()
    {
        QFETCH(QByteArray, sounds);
        QFETCH(QString, merged);
        const DownloadChoices choices =
            choicesFor("{'id':'x','language':'pt_BR','formats':[{'format_id':'v','ext':'mp4',"
                       "'vcodec':'avc1','acodec':'none','height':720},"
                       + sounds + "]}");
        QCOMPARE(ids(choices.withAudio), QStringList{merged});
    }

    void withoutSoundOnlyFormats()
    {
        // Video-only formats need a sound to merge with; without one they are only offered
        // as video.
        const DownloadChoices choices = choicesFor(
            "{'id':'x','formats':[{'format_id':'v','ext':'webm','vcodec':'vp9','acodec':'none',"
            "'height':480},{'format_id':'c','ext':'mp4','vcodec':'avc1','acodec':'mp4a',"
            "'height':360,'fps':24},{'format_id':'d','ext':'mp4','vcodec':'avc1',"
            "'acodec':'mp4a','height':360,'fps':30}]}");
        QCOMPARE(ids(choices.withAudio), QStringList{"d"});
        QVERIFY(choices.audioOnly.isEmpty());
        QCOMPARE(ids(choices.videoOnly), QStringList{"v"});
        QCOMPARE(choices.withAudio[0].title(), "360p");
        QVERIFY(choicesFor("{'id':'x','formats':[]}").isEmpty());
    }

    // Frame rate and quality come first (shown above); then the smaller id, and a format is
    // never preferred over itself, as a sort needs.
    void videoPreferenceBreaksTies()
    {
        const auto decode = [](const char *id) {
            return decodeVideoMetadata(singleQuoted(QByteArray("{'id':'x','formats':[{'ext':'mp4',"
                                                               "'format_id':'")
                                                    + id + "'}]}"))
                .value()
                .formats.first();
        };
        QVERIFY(videoIsPreferred(decode("a"), decode("b")));
        QVERIFY(!videoIsPreferred(decode("b"), decode("a")));
        QVERIFY(!videoIsPreferred(decode("a"), decode("a")));
    }
};

TOVRIN_TEST(TestDownloadChoices);
#include "test_download_choices.moc"
