#include "support/test_main.h"
#include "video/language_names.h"
#include "video/video_quality.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QTest>

namespace {

// Rows write JSON with single quotes to stay readable.
VideoQuality quality(QString json)
{
    json.replace(u'\'', u'"').replace(u'{', "{\"format_id\":\"a\",");
    QString error;
    const auto q = decodeVideoQuality(QJsonDocument::fromJson(json.toUtf8()).object(), &error);
    if (!q)
        qFatal("bad fixture: %s", qPrintable(error));
    return *q;
}

// ICU separates number and unit with a no-break space.
QString plain(QString text)
{
    return text.replace(QChar(0x00A0), u' ').replace(QChar(0x202F), u' ');
}

} // namespace

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
            {"video only in mkv is not mergeable", "{'ext':'mkv','vcodec':'avc1','acodec':'none'}",
             "V... 0 0"},
            {"storyboard has neither", "{'ext':'mhtml','vcodec':'none','acodec':'none'}",
             ".... 0 0"},
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
            {"30.5 fps rounds up to 31", "{'ext':'mp4','vcodec':'hev1.1','height':480,'fps':30.5}",
             "480p · 31 fps | 480|31 | H.265 / HEVC | mp4 | MP4 · видео и звук"},
            {"no height, no codec", "{'ext':'webm'}",
             "Видео | 0|0 | кодек не указан | mkv | WEBM · видео и звук"},
            {"vp8 goes to mkv", "{'ext':'webm','vcodec':'vp8','height':360}",
             "360p | 360|0 | VP8 | mkv | WEBM · видео и звук"},
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
        const QString labels = QStringList{q.title(), q.displayedQualityKey(), q.videoCodecLabel(),
                                           q.mergeOutputExtension(), plain(q.detail())}
                                   .join(" | ");
        QTEST(labels, "labels");
        QCOMPARE(plain(q.videoOnlyDetail()),
                 plain(q.detail()).replace("видео и звук", "исходная видеодорожка"));
    }

    // Track key, track title, option title and option detail of a sound format.
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
             "{'ext':'webm','acodec':'opus','language':'es',"
             "'format_note':'Spanish original dubbed-auto, high'}",
             "es|automatic-dub | Испанский · автодубляж | WEBM | OPUS"},
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
        const QString labels = QStringList{q.audioTrackKey(), q.audioTrackTitle(),
                                           q.audioOptionTitle(), plain(q.audioOptionDetail())}
                                   .join(" | ");
        QTEST(labels, "labels");
    }

    // Three letters, every word capitalised, hyphens kept; no name for garbage. (Regions,
    // underscores, "und" and private use are in the audio labels.)
    void russianLanguageNames()
    {
        const std::pair<const char *, const char *> rows[] = {{"deu", "Немецкий"},
                                                              {"zxx", "Нет Языкового Материала"},
                                                              {"pcm", "Нигерийско-Креольский"},
                                                              {"!!", ""}};
        for (const auto &[tag, name] : rows)
            QCOMPARE(russianLanguageName(tag).value_or(QString()), QString(name));
    }
};

TOVRIN_TEST(TestVideoQuality);
#include "test_video_quality.moc"
