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
    json.replace(u'\'', u'"');
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
    void classification_data()
    {
        QTest::addColumn<QString>("json");
        QTest::addColumn<bool>("video");
        QTest::addColumn<bool>("audio");
        QTest::addColumn<bool>("mergeable");
        QTest::addColumn<bool>("concreteAudio");
        QTest::newRow("mp4 without codecs is opaque video with sound")
            << "{'format_id':'a','ext':'MP4'}" << true << true << false << false;
        QTest::newRow("acodec none, height only: video only")
            << "{'format_id':'a','ext':'webm','acodec':'none','height':720}" << true << false
            << true << false;
        QTest::newRow("nothing stated, not mp4: sound only")
            << "{'format_id':'a','ext':'m4a'}" << false << true << false << false;
        QTest::newRow("vcodec none wins over height")
            << "{'format_id':'a','ext':'m4a','vcodec':'NONE','height':1,'acodec':'opus'}" << false
            << true << false << true;
        QTest::newRow("empty vcodec falls back to video_ext")
            << "{'format_id':'a','ext':'mp4','vcodec':'','video_ext':'none','acodec':'mp4a'}"
            << false << true << false << true;
        QTest::newRow("audio_ext none with vcodec: video only")
            << "{'format_id':'a','ext':'mp4','vcodec':'avc1','audio_ext':'none'}" << true << false
            << true << false;
        QTest::newRow("video only in mkv is not mergeable")
            << "{'format_id':'a','ext':'mkv','vcodec':'avc1','acodec':'none'}" << true << false
            << false << false;
        QTest::newRow("storyboard has neither")
            << "{'format_id':'sb0','ext':'mhtml','vcodec':'none','acodec':'none'}" << false << false
            << false << false;
    }

    void classification()
    {
        QFETCH(QString, json);
        const VideoQuality q = quality(json);
        QTEST(q.includesVideo(), "video");
        QTEST(q.includesAudio(), "audio");
        QTEST(q.canBeMergedByMac(), "mergeable");
        QTEST(q.hasConcreteAudioCodec(), "concreteAudio");
    }

    void videoLabels_data()
    {
        QTest::addColumn<QString>("json");
        QTest::addColumn<QString>("title");
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("codec");
        QTest::addColumn<QString>("container");
        QTest::addColumn<QString>("detail");
        QTest::addColumn<QString>("videoOnlyDetail");
        QTest::newRow("1080p 59.94 fps h264 with size")
            << "{'format_id':'a','ext':'mp4','vcodec':'avc1.640028','height':1080,'fps':59.94,"
               "'filesize':1500000}"
            << "1080p · 60 fps"
            << "1080|60"
            << "H.264"
            << "mp4"
            << "MP4 · видео и звук · 1,5 МБ"
            << "MP4 · исходная видеодорожка · 1,5 МБ";
        QTest::newRow("720p 30 fps vp9, approximate size only")
            << "{'format_id':'a','ext':'webm','vcodec':'vp09.00.40.08','height':720,'fps':30,"
               "'filesize':null,'filesize_approx':2500000000}"
            << "720p"
            << "720|0"
            << "VP9"
            << "mp4"
            << "WEBM · видео и звук · 2,5 ГБ"
            << "WEBM · исходная видеодорожка · 2,5 ГБ";
        QTest::newRow("30.5 fps rounds up to 31")
            << "{'format_id':'a','ext':'mp4','vcodec':'hev1.1','height':480,'fps':30.5}"
            << "480p · 31 fps"
            << "480|31"
            << "H.265 / HEVC"
            << "mp4"
            << "MP4 · видео и звук"
            << "MP4 · исходная видеодорожка";
        QTest::newRow("no height, no codec") << "{'format_id':'a','ext':'webm'}"
                                             << "Видео"
                                             << "0|0"
                                             << "кодек не указан"
                                             << "mkv"
                                             << "WEBM · видео и звук"
                                             << "WEBM · исходная видеодорожка";
        QTest::newRow("vp8 goes to mkv")
            << "{'format_id':'a','ext':'webm','vcodec':'vp8','height':360}"
            << "360p"
            << "360|0"
            << "VP8"
            << "mkv"
            << "WEBM · видео и звук"
            << "WEBM · исходная видеодорожка";
        QTest::newRow("dolby vision")
            << "{'format_id':'a','ext':'mp4','vcodec':'dvh1.05.06','height':2160,'fps':24}"
            << "2160p"
            << "2160|0"
            << "Dolby Vision / HEVC"
            << "mp4"
            << "MP4 · видео и звук"
            << "MP4 · исходная видеодорожка";
        QTest::newRow("av1") << "{'format_id':'a','ext':'mp4','vcodec':'av01.0.05M.08'}"
                             << "Видео"
                             << "0|0"
                             << "AV1"
                             << "mp4"
                             << "MP4 · видео и звук"
                             << "MP4 · исходная видеодорожка";
        QTest::newRow("unknown codec: first dotted part")
            << "{'format_id':'a','ext':'3gp','vcodec':'..mp4v.20.3'}"
            << "Видео"
            << "0|0"
            << "MP4V"
            << "mkv"
            << "3GP · видео и звук"
            << "3GP · исходная видеодорожка";
        QTest::newRow("codec none") << "{'format_id':'a','ext':'mp4','vcodec':'None'}"
                                    << "Видео"
                                    << "0|0"
                                    << "кодек не указан"
                                    << "mkv"
                                    << "MP4 · видео и звук"
                                    << "MP4 · исходная видеодорожка";
    }

    void videoLabels()
    {
        QFETCH(QString, json);
        const VideoQuality q = quality(json);
        QTEST(q.title(), "title");
        QTEST(q.displayedQualityKey(), "key");
        QTEST(q.videoCodecLabel(), "codec");
        QTEST(q.mergeOutputExtension(), "container");
        QTEST(plain(q.detail()), "detail");
        QTEST(plain(q.videoOnlyDetail()), "videoOnlyDetail");
    }

    void audioLabels_data()
    {
        QTest::addColumn<QString>("json");
        QTest::addColumn<QString>("trackKey");
        QTest::addColumn<QString>("trackTitle");
        QTest::addColumn<QString>("optionTitle");
        QTest::addColumn<QString>("optionDetail");
        QTest::newRow("original english, medium")
            << "{'format_id':'a','ext':'m4a','acodec':'mp4a.40.2','abr':129.5,'filesize':3400000,"
               "'language':' en_US \\n','format_note':'English original (default), Medium'}"
            << "en-us|original"
            << "Английский · оригинал"
            << "M4A · 130 кбит/с"
            << "MP4A · 3,4 МБ";
        QTest::newRow("automatic dub that also says original")
            << "{'format_id':'a','ext':'webm','acodec':'opus','language':'es',"
               "'format_note':'Spanish original dubbed-auto, high'}"
            << "es|automatic-dub"
            << "Испанский · автодубляж"
            << "WEBM"
            << "OPUS";
        QTest::newRow("unknown language falls back to the note")
            << "{'format_id':'a','ext':'m4a','acodec':'none','language':'qaa',"
               "'format_note':' Commentary , low '}"
            << "qaa|commentary"
            << "Commentary"
            << "M4A"
            << "Исходный аудиофайл";
        QTest::newRow("und and no note")
            << "{'format_id':'a','ext':'mp3','language':'und','filesize_approx':999}"
            << "und|"
            << "Аудиодорожка"
            << "MP3"
            << "999 Б";
        QTest::newRow("no language, auto-dub note")
            << "{'format_id':'a','ext':'m4a','acodec':'.','abr':64.5,'format_note':'AutoDub'}"
            << "unknown|automatic-dub"
            << "AutoDub · автодубляж"
            << "M4A · 65 кбит/с"
            << ".";
        QTest::newRow("blank language")
            << "{'format_id':'a','ext':'m4a','language':'  ','format_note':'x, low, medium'}"
            << "unknown|x, low"
            << "x, low"
            << "M4A"
            << "Исходный аудиофайл";
    }

    void audioLabels()
    {
        QFETCH(QString, json);
        const VideoQuality q = quality(json);
        QTEST(q.audioTrackKey(), "trackKey");
        QTEST(q.audioTrackTitle(), "trackTitle");
        QTEST(q.audioOptionTitle(), "optionTitle");
        QTEST(plain(q.audioOptionDetail()), "optionDetail");
    }

    void russianLanguageNames_data()
    {
        QTest::addColumn<QString>("tag");
        QTest::addColumn<QString>("name"); // empty: no name
        QTest::newRow("en") << "en"
                            << "Английский";
        QTest::newRow("region is not named") << "pt-br"
                                             << "Португальский";
        QTest::newRow("underscore") << "es_419"
                                    << "Испанский";
        QTest::newRow("northern sami") << "se"
                                       << "Северносаамский";
        QTest::newRow("three letters") << "deu"
                                       << "Немецкий";
        QTest::newRow("every word capitalised") << "zxx"
                                                << "Нет Языкового Материала";
        QTest::newRow("hyphenated") << "pcm"
                                    << "Нигерийско-Креольский";
        QTest::newRow("und") << "und"
                             << "";
        QTest::newRow("unknown xx") << "xx"
                                    << "";
        QTest::newRow("private use qaa") << "qaa"
                                         << "";
        QTest::newRow("garbage") << "!!"
                                 << "";
        QTest::newRow("empty") << ""
                               << "";
    }

    void russianLanguageNames()
    {
        QFETCH(QString, tag);
        QFETCH(QString, name);
        QCOMPARE(russianLanguageName(tag).value_or(QString()), name);
    }

    void qualityPreferences_data()
    {
        QTest::addColumn<QString>("json");
        QTest::addColumn<double>("video");
        QTest::addColumn<double>("audio");
        QTest::newRow("bitrates") << "{'format_id':'a','ext':'mp4','vbr':900,'abr':128,'tbr':1000}"
                                  << 900.0 << 128.0;
        QTest::newRow("zero bitrates fall to tbr")
            << "{'format_id':'a','ext':'mp4','vbr':0,'abr':0,'tbr':1000}" << 1000.0 << 1000.0;
        QTest::newRow("size in megabytes")
            << "{'format_id':'a','ext':'mp4','filesize_approx':2500000}" << 2.5 << 2.5;
        QTest::newRow("nothing") << "{'format_id':'a','ext':'mp4'}" << 0.0 << 0.0;
    }

    void qualityPreferences()
    {
        QFETCH(QString, json);
        const VideoQuality q = quality(json);
        QTEST(q.qualityPreference(), "video");
        QTEST(q.audioQualityPreference(), "audio");
    }
};

TOVRIN_TEST(TestVideoQuality);
#include "test_video_quality.moc"
