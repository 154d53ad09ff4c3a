#include "support/test_main.h"
#include "video/download_choices.h"
#include "video/video_quality.h"

#include <QFile>
#include <QTest>

namespace {

// Rows write JSON with single quotes to stay readable.
QByteArray doubleQuoted(QString json)
{
    return json.replace(u'\'', u'"').toUtf8();
}

VideoMetadata decoded(const QString &json)
{
    const Result<VideoMetadata> meta = decodeVideoMetadata(doubleQuoted(json));
    if (!meta)
        qFatal("bad fixture: %s", qPrintable(meta.error().message));
    return meta.value();
}

// One format, with the id "a".
VideoQuality quality(const QString &json)
{
    return decoded("{'id':'x','formats':[{'format_id':'a'," + json.mid(1) + "]}").formats.first();
}

// ICU separates number and unit with a no-break space.
QString plain(QString text)
{
    return text.replace(QChar(0x00A0), u' ').replace(QChar(0x202F), u' ');
}

// Format ids in order; an option with a merge shows as "video+sound".
template <typename Item> QStringList ids(const QList<Item> &list)
{
    QStringList out;
    for (const Item &item : list) {
        if constexpr (std::is_same_v<Item, DownloadOption>)
            out << item.video.formatID + (item.audioFormatID ? u'+' + *item.audioFormatID : "");
        else
            out << item.formatID;
    }
    return out;
}

} // namespace

// One format's kinds and labels, and the picker's lists built from a video's formats.
class TestVideoQuality : public QObject {
    Q_OBJECT

private slots:
    // Video, audio, mergeable, concrete audio codec; then the video and audio preferences.
    void classificationAndPreference_data()
    {
        QTest::addColumn<QString>("json");
        QTest::addColumn<QString>("kinds");
        const char *rows[][3] = {
            {"mp4 without codecs is opaque video with sound", "{'ext':'MP4'}", "VA.. 0 0"},
            {"acodec none, height only: video only", "{'ext':'webm','acodec':'none','height':720}",
             "V.M. 0 0"},
            {"nothing stated, not mp4: sound only", "{'ext':'m4a'}", ".A.. 0 0"},
            {"vcodec none wins over height",
             "{'ext':'m4a','vcodec':'NONE','height':1,'acodec':'opus'}", ".A.C 0 0"},
            {"empty vcodec falls back to video_ext",
             "{'ext':'mp4','vcodec':'','video_ext':'none','acodec':'mp4a'}", ".A.C 0 0"},
            {"audio_ext none with vcodec: video only",
             "{'ext':'mp4','vcodec':'avc1','audio_ext':'none'}", "V.M. 0 0"},
            {"bitrates", "{'ext':'mp4','vbr':900,'abr':128,'tbr':1000}", "VA.. 900 128"},
            {"zero bitrates fall to tbr", "{'ext':'mp4','vbr':0,'abr':0,'tbr':1000}",
             "VA.. 1000 1000"},
            {"size in megabytes", "{'ext':'mp4','filesize_approx':2500000}", "VA.. 2.5 2.5"},
        };
        for (const auto &row : rows)
            QTest::newRow(row[0]) << QString(row[1]) << QString(row[2]);
    }
    void classificationAndPreference()
    {
        QFETCH(QString, json);
        const VideoQuality q = quality(json);
        const QString kinds = QString(q.includesVideo() ? "V" : ".")
                              + (q.includesAudio() ? "A" : ".") + (q.canBeMergedByMac() ? "M" : ".")
                              + (q.hasConcreteAudioCodec() ? "C" : ".");
        QTEST(QString("%1 %2 %3")
                  .arg(kinds)
                  .arg(q.qualityPreference())
                  .arg(q.audioQualityPreference()),
              "kinds");
    }

    // Title, quality key, codec, merge container and detail of a video format, " | " between.
    void videoLabels_data()
    {
        QTest::addColumn<QString>("json");
        QTest::addColumn<QString>("labels");
        const char *rows[][3] = {
            {"1080p 59.94 fps h264 with size",
             "{'ext':'mp4','vcodec':'avc1.640028','height':1080,'fps':59.94,'filesize':1500000}",
             "1080p · 60 fps | 1080|60 | H.264 | mp4 | MP4 · видео и звук · 1,5 МБ"},
            {"720p 30 fps vp9, approximate size only",
             "{'ext':'webm','vcodec':'vp09.00.40.08','height':720,'fps':30,'filesize':null,"
             "'filesize_approx':2500000000}",
             "720p | 720|0 | VP9 | mp4 | WEBM · видео и звук · 2,5 ГБ"},
            {"no height, no codec", "{'ext':'webm'}",
             "Видео | 0|0 | кодек не указан | mkv | WEBM · видео и звук"},
            {"unknown codec: first dotted part", "{'ext':'3gp','vcodec':'..mp4v.20.3'}",
             "Видео | 0|0 | MP4V | mkv | 3GP · видео и звук"},
        };
        for (const auto &row : rows)
            QTest::newRow(row[0]) << QString(row[1]) << QString(row[2]);
    }
    void videoLabels()
    {
        QFETCH(QString, json);
        const VideoQuality q = quality(json);
        QTEST(QStringList({q.title(), q.displayedQualityKey(), q.videoCodecLabel(),
                           q.mergeOutputExtension(), plain(q.detail())})
                  .join(" | "),
              "labels");
    }

    // Track key, track title, option title and option detail of a sound format. Language names
    // come from ICU in Russian, every word capitalised.
    void audioLabels_data()
    {
        QTest::addColumn<QString>("json");
        QTest::addColumn<QString>("labels");
        const char *rows[][3] = {
            {"original english, medium",
             "{'ext':'m4a','acodec':'mp4a.40.2','abr':129.5,'filesize':3400000,"
             "'language':' en_US \\n','format_note':'English original (default), Medium'}",
             "en-us|original | Английский · оригинал | M4A · 130 кбит/с | MP4A · 3,4 МБ"},
            {"automatic dub that also says original",
             "{'ext':'webm','acodec':'opus','language':'pcm',"
             "'format_note':'Pidgin original dubbed-auto, high'}",
             "pcm|automatic-dub | Нигерийско-Креольский · автодубляж | WEBM | OPUS"},
            {"unknown language falls back to the note",
             "{'ext':'m4a','acodec':'none','language':'qaa','format_note':' Commentary , low '}",
             "qaa|commentary | Commentary | M4A | Исходный аудиофайл"},
            {"und and no note", "{'ext':'mp3','language':'und','filesize_approx':999}",
             "und| | Аудиодорожка | MP3 | 999 Б"},
            {"no language, auto-dub note",
             "{'ext':'m4a','acodec':'.','abr':64.5,'format_note':'AutoDub'}",
             "unknown|automatic-dub | AutoDub · автодубляж | M4A · 65 кбит/с | ."},
        };
        for (const auto &row : rows)
            QTest::newRow(row[0]) << QString(row[1]) << QString(row[2]);
    }
    void audioLabels()
    {
        QFETCH(QString, json);
        const VideoQuality q = quality(json);
        QTEST(QStringList({q.audioTrackKey(), q.audioTrackTitle(), q.audioOptionTitle(),
                           plain(q.audioOptionDetail())})
                  .join(" | "),
              "labels");
    }

    // A document of the wrong shape is refused, not read as empty or zero.
    void decodingFailures()
    {
        for (const char *json :
             {"{'id':'a','formats':[{'format_id':'1'}]}",
              "{'id':'a','formats':[{'format_id':'1','ext':'mp4','height':'7'}]}",
              "{'id':'a','formats':[{'format_id':'1','ext':'mp4','filesize':1.5}]}",
              "{'id':'a','formats':{}}", "{'id':'a','entries':[{'id':'b'},{'title':'no id'}]}"}) {
            const Result<VideoMetadata> meta = decodeVideoMetadata(doubleQuoted(json));
            QVERIFY2(!meta.ok() && meta.error().kind == ErrorKind::Decoding, json);
        }
    }

    void youtubeShapedVideo()
    {
        QFile file(TOVRIN_VIDEO_TEST_DATA "/youtube_video.json");
        QVERIFY(file.open(QIODevice::ReadOnly));
        const Result<VideoMetadata> meta = decodeVideoMetadata(file.readAll());
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

        // An option's own text; the format labels are the rows above.
        QCOMPARE(choices.withAudio[0].detail(), "MP4 · AV1 · звук будет объединён на компьютере");
        QVERIFY(!choices.withAudio[3].requiresMerge());
    }

    // One video-only format and these sound formats: the sound the merge takes.
    void bestSound_data()
    {
        QTest::addColumn<QString>("sounds");
        QTest::addColumn<QString>("merged");
        QTest::newRow("original beats higher bitrate")
            << "{'format_id':'hi','ext':'m4a','acodec':'mp4a','abr':256},"
               "{'format_id':'orig','ext':'webm','acodec':'opus','abr':50,'format_note':'original'}"
            << "v+orig";
        QTest::newRow("language of the video beats a preference")
            << "{'format_id':'pref','ext':'m4a','acodec':'mp4a','language_preference':5},"
               "{'format_id':'pt','ext':'webm','acodec':'opus','language':' pt-PT '}"
            << "v+pt";
        QTest::newRow("(default) beats nothing, automatic dub ranks last")
            << "{'format_id':'dub','ext':'m4a','acodec':'mp4a','format_note':'auto-dub'},"
               "{'format_id':'def','ext':'webm','acodec':'opus','format_note':'EN (default)'},"
               "{'format_id':'plain','ext':'webm','acodec':'opus','abr':300}"
            << "v+def";
        QTest::newRow("m4a beats a better webm; case matters")
            << "{'format_id':'w','ext':'webm','acodec':'opus','abr':160},"
               "{'format_id':'M','ext':'M4A','acodec':'mp4a','abr':200},"
               "{'format_id':'m','ext':'m4a','acodec':'mp4a','abr':128}"
            << "v+m";
        QTest::newRow("codec-less sound is used only when no sound names a codec")
            << "{'format_id':'bare','ext':'m4a','abr':500},"
               "{'format_id':'named','ext':'webm','acodec':'opus','abr':10}"
            << "v+named";
    }
    void bestSound()
    {
        QFETCH(QString, sounds);
        const DownloadChoices choices = downloadChoices(
            decoded("{'id':'x','language':'pt_BR','formats':[{'format_id':'v','ext':'mp4',"
                    "'vcodec':'avc1','acodec':'none','height':720},"
                    + sounds + "]}"));
        QTEST(ids(choices.withAudio).join(u','), "merged");
    }

    // Video-only formats need a sound to merge with; without one they are only offered as
    // video. Equal in frame rate and quality, the smaller format id stands for the slot.
    void withoutSoundOnlyFormats()
    {
        const DownloadChoices choices = downloadChoices(decoded(
            "{'id':'x','formats':[{'format_id':'v','ext':'webm','vcodec':'vp9','acodec':'none',"
            "'height':480},{'format_id':'u','ext':'webm','vcodec':'vp9','acodec':'none',"
            "'height':480},{'format_id':'c','ext':'mp4','vcodec':'avc1','acodec':'mp4a',"
            "'height':360,'fps':24},{'format_id':'d','ext':'mp4','vcodec':'avc1',"
            "'acodec':'mp4a','height':360,'fps':30}]}"));
        QCOMPARE(ids(choices.withAudio), QStringList{"d"});
        QVERIFY(choices.audioOnly.isEmpty());
        QCOMPARE(ids(choices.videoOnly), QStringList{"u"});
    }
};

TOVRIN_TEST(TestVideoQuality);
#include "test_video_quality.moc"
