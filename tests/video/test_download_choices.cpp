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
    void decodingFailures_data()
    {
        QTest::addColumn<QByteArray>("json");
        QTest::newRow("not json") << QByteArray("<html>");
        QTest::newRow("an array") << QByteArray("[]");
        QTest::newRow("no id") << QByteArray("{'title':'x'}");
        QTest::newRow("id is a number") << QByteArray("{'id':5}");
        QTest::newRow("format without ext")
            << QByteArray("{'id':'a','formats':[{'format_id':'1'}]}");
        QTest::newRow("format without format_id")
            << QByteArray("{'id':'a','formats':[{'ext':'mp4'}]}");
        QTest::newRow("height as text")
            << QByteArray("{'id':'a','formats':[{'format_id':'1','ext':'mp4','height':'720'}]}");
        QTest::newRow("fractional filesize")
            << QByteArray("{'id':'a','formats':[{'format_id':'1','ext':'mp4','filesize':1.5}]}");
        QTest::newRow("formats not an array") << QByteArray("{'id':'a','formats':{}}");
        QTest::newRow("bad entry fails the publication")
            << QByteArray("{'id':'a','entries':[{'id':'b'},{'title':'no id'}]}");
        QTest::newRow("playlist_index as text") << QByteArray("{'id':'a','playlist_index':'1'}");
    }

    void decodingFailures()
    {
        QFETCH(QByteArray, json);
        const Result<VideoMetadata> meta = decodeVideoMetadata(singleQuoted(json));
        QVERIFY(!meta.ok());
        QCOMPARE(meta.error().kind, ErrorKind::Decoding);
        QVERIFY(!meta.error().message.isEmpty());
    }

    void lenientValues()
    {
        // Nulls, absent keys, unknown keys and integral numbers written as doubles all decode.
        const Result<VideoMetadata> meta = decodeVideoMetadata(singleQuoted(
            "{'id':'a','title':null,'formats':null,'extra':{'x':[1]},'playlist_index':3.0}"));
        QVERIFY(meta.ok());
        QCOMPARE(meta.value().title, std::nullopt);
        QVERIFY(meta.value().formats.isEmpty());
        QCOMPARE(meta.value().playlistIndex, 3);
        QCOMPARE(meta.value().entries, std::nullopt);
    }

    void publicationKeepsNullEntries()
    {
        const Result<VideoMetadata> meta = decodeVideoMetadata(dataFile("publication.json"));
        QVERIFY(meta.ok());
        const auto &entries = *meta.value().entries;
        QCOMPARE(entries.size(), 4);
        QCOMPARE(entries[0]->videoID, "first");
        QCOMPARE(entries[0]->playlistIndex, 1);
        QVERIFY(!entries[1].has_value());
        QVERIFY(entries[2]->formats.isEmpty());
        QCOMPARE(entries[3]->title, std::nullopt);
        QCOMPARE(ids(downloadChoices(*entries[0]).withAudio), QStringList{"hd"});
        QCOMPARE(ids(downloadChoices(*entries[3]).audioOnly), QStringList{"a"});
        QVERIFY(downloadChoices(meta.value()).isEmpty());
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

        QCOMPARE(choices.withAudio[0].title(), "1080p");
        QCOMPARE(choices.withAudio[0].detail(), "MP4 · AV1 · звук будет объединён на компьютере");
        QCOMPARE(choices.withAudio[1].title(), "720p · 60 fps");
        QCOMPARE(choices.withAudio[1].detail(), "MP4 · VP9 · звук будет объединён на компьютере");
        QVERIFY(!choices.withAudio[3].requiresMerge());
        QCOMPARE(choices.withAudio[3].detail().replace(QChar(0x00A0), u' '),
                 "MP4 · видео и звук · 13 МБ");
        QCOMPARE(choices.videoOnly[0].videoOnlyDetail().replace(QChar(0x00A0), u' '),
                 "MP4 · исходная видеодорожка · 61,2 МБ");

        QCOMPARE(choices.audioOnly[0].audioTrackTitle(), "Английский · оригинал");
        QCOMPARE(choices.audioOnly[2].audioTrackTitle(), "Немецкий");
        QCOMPARE(choices.audioOnly[3].audioTrackTitle(), "Испанский · автодубляж");
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
        QTest::newRow("ties keep the first")
            << QByteArray("{'format_id':'one','ext':'m4a','acodec':'mp4a'},"
                          "{'format_id':'two','ext':'m4a','acodec':'mp4a'}")
            << "v+one";
        QTest::newRow("codec-less sound is used only when no sound names a codec")
            << QByteArray("{'format_id':'bare','ext':'m4a','abr':500},"
                          "{'format_id':'named','ext':'webm','acodec':'opus','abr':10}")
            << "v+named";
        QTest::newRow("all codec-less: the pool is all of them")
            << QByteArray("{'format_id':'a','ext':'ogg','acodec':''},{'format_id':'b','ext':'m4a'}")
            << "v+b";
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

    void videoPreference_data()
    {
        QTest::addColumn<QByteArray>("a");
        QTest::addColumn<QByteArray>("b");
        QTest::addColumn<bool>("preferred");
        QTest::newRow("frame rate first")
            << QByteArray("{'format_id':'z','ext':'mp4','fps':60}")
            << QByteArray("{'format_id':'a','ext':'mp4','fps':59.94,'vbr':9000}") << true;
        QTest::newRow("then quality")
            << QByteArray("{'format_id':'z','ext':'mp4','tbr':2}")
            << QByteArray("{'format_id':'a','ext':'mp4','tbr':1}") << true;
        QTest::newRow("then the smaller id") << QByteArray("{'format_id':'a','ext':'mp4'}")
                                             << QByteArray("{'format_id':'b','ext':'mp4'}") << true;
        QTest::newRow("equal ids are not preferred")
            << QByteArray("{'format_id':'a','ext':'mp4'}")
            << QByteArray("{'format_id':'a','ext':'mp4'}") << false;
    }

    void videoPreference()
    {
        QFETCH(QByteArray, a);
        QFETCH(QByteArray, b);
        const auto decode = [](const QByteArray &json) {
            return decodeVideoMetadata(singleQuoted("{'id':'x','formats':[" + json + "]}"))
                .value()
                .formats.first();
        };
        QTEST(videoIsPreferred(decode(a), decode(b)), "preferred");
    }
};

TOVRIN_TEST(TestDownloadChoices);
#include "test_download_choices.moc"
