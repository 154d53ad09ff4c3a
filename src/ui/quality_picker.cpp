#include "ui/quality_picker.h"

#include "ui/components/quality_action_row.h"
#include "ui/components/segmented_control.h"
#include "ui/components/wheel_guard.h"
#include "ui/icons.h"
#include "ui/theme.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <QHash>
#include <QLabel>
#include <QPushButton>
#include <QScrollArea>
#include <QToolButton>
#include <QVBoxLayout>

QString qualityTabLabel(QualityTab tab)
{
    switch (tab) {
    case QualityTab::WithAudio:
        return QStringLiteral("Видео со звуком");
    case QualityTab::AudioOnly:
        return QStringLiteral("Только звук");
    case QualityTab::VideoOnly:
        return QStringLiteral("Без звука");
    }
    return QString();
}

QList<AudioTrackGroup> groupAudioTracks(const QList<VideoQuality> &qualities)
{
    QList<AudioTrackGroup> groups;
    QHash<QString, qsizetype> indexOf;
    for (const VideoQuality &quality : qualities) {
        const QString key = quality.audioTrackKey();
        auto it = indexOf.constFind(key);
        if (it == indexOf.constEnd()) {
            it = indexOf.insert(key, groups.size());
            groups.append({key, quality.audioTrackTitle(), {}});
        }
        groups[*it].qualities.append(quality);
    }
    return groups;
}

namespace {

bool nothingOffered(const QualityPickerContent &content)
{
    return content.withAudioQualities.isEmpty() && content.audioOnlyQualities.isEmpty()
           && content.videoOnlyQualities.isEmpty();
}

} // namespace

QualityPicker::QualityPicker(const QualityPickerContent &content, QWidget *parent)
    : QDialog(parent), m_content(content)
{
    setWindowTitle(QStringLiteral("Что скачать?"));
    setModal(true);
    setFixedSize(520, 440);

    auto *column = new QVBoxLayout(this);
    column->setContentsMargins(24, 24, 24, 24);
    column->setSpacing(18);

    // Header: the question, the title, and a close button.
    auto *header = new QHBoxLayout;
    auto *texts = new QVBoxLayout;
    texts->setSpacing(4);
    auto *heading = new QLabel(QStringLiteral("Что скачать?"), this);
    QFont headingFont = Theme::font(Theme::TextRole::Title2);
    headingFont.setBold(true);
    heading->setFont(headingFont);
    m_title = new QLabel(this);
    m_title->setWordWrap(true);
    m_title->setMaximumHeight(m_title->fontMetrics().lineSpacing() * 2 + 2);
    Theme::style(m_title, Theme::TextRole::Subheadline, Theme::Emphasis::Secondary);
    texts->addWidget(heading);
    texts->addWidget(m_title);
    auto *close = new QToolButton(this);
    close->setIcon(Icons::icon(QStringLiteral("xmark.circle.fill"),
                               Theme::textColor(Theme::Emphasis::Secondary)));
    close->setIconSize(QSize(20, 20));
    close->setAutoRaise(true);
    close->setToolTip(QStringLiteral("Закрыть"));
    close->setAccessibleName(QStringLiteral("Закрыть"));
    connect(close, &QToolButton::clicked, this, &QDialog::reject);
    header->addLayout(texts, 1);
    header->addWidget(close, 0, Qt::AlignTop);
    column->addLayout(header);

    // A publication: the video picker and "download all".
    m_publicationSection = new QWidget(this);
    auto *publication = new QVBoxLayout(m_publicationSection);
    publication->setContentsMargins(0, 0, 0, 0);
    publication->setSpacing(18);
    auto *pickerRow = new QHBoxLayout;
    auto *pickerLabel = new QLabel(QStringLiteral("Видео в публикации"), m_publicationSection);
    m_publication = new QComboBox(m_publicationSection);
    m_publication->setAccessibleName(QStringLiteral("Видео в публикации"));
    WheelGuard::passWheelToPage(m_publication);
    pickerLabel->setBuddy(m_publication);
    pickerRow->addWidget(pickerLabel);
    pickerRow->addWidget(m_publication, 1);
    publication->addLayout(pickerRow);
    auto *allRow = new QHBoxLayout;
    m_allVideos = new QPushButton(m_publicationSection);
    Theme::makeProminent(m_allVideos, Theme::red());
    auto *allNote =
        new QLabel(QStringLiteral("Лучшее качество · со звуком, если есть"), m_publicationSection);
    Theme::style(allNote, Theme::TextRole::Caption, Theme::Emphasis::Secondary);
    allRow->addWidget(m_allVideos);
    allRow->addWidget(allNote, 1);
    publication->addLayout(allRow);
    column->addWidget(m_publicationSection);
    connect(m_publication, &QComboBox::activated, this, &QualityPicker::publicationVideoSelected);
    connect(m_allVideos, &QPushButton::clicked, this, &QualityPicker::selectAllVideos);

    // The tab selector: one control; every way of choosing a segment switches the list.
    m_tabs = new SegmentedControl(QStringLiteral("Режим"),
                                  {qualityTabLabel(QualityTab::WithAudio),
                                   qualityTabLabel(QualityTab::AudioOnly),
                                   qualityTabLabel(QualityTab::VideoOnly)},
                                  Theme::red(), this);
    column->addWidget(m_tabs);
    connect(m_tabs, &SegmentedControl::currentChanged, this, [this](int index) {
        if (QualityTab(index) != m_tab)
            setTab(QualityTab(index));
    });

    m_scroll = new QScrollArea(this);
    m_scroll->setWidgetResizable(true);
    m_scroll->setFrameShape(QFrame::NoFrame);
    m_scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    // Tab goes to the offers themselves; the list scrolls to the one that has the focus.
    m_scroll->setFocusPolicy(Qt::NoFocus);
    column->addWidget(m_scroll, 1);

    m_tab = content.startOnVideoOnly ? QualityTab::VideoOnly : QualityTab::WithAudio;
    m_content.selectedPublicationVideo = -1; // so the first content counts as a change
    setContent(content);
    m_tab = content.startOnVideoOnly ? QualityTab::VideoOnly : QualityTab::WithAudio;
    setTab(m_tab);
}

void QualityPicker::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    // The sheet asks what to download: the keyboard starts on the first answer.
    if (!m_rows.isEmpty())
        m_rows.first()->setFocus(Qt::OtherFocusReason);
    else
        m_tabs->segment(int(m_tab))->setFocus(Qt::OtherFocusReason);
}

QAbstractButton *QualityPicker::tabButton(QualityTab tab) const
{
    return m_tabs->segment(int(tab));
}

void QualityPicker::setTab(QualityTab tab)
{
    m_tab = tab;
    m_tabs->setCurrent(int(tab));
    rebuildOffers();
}

void QualityPicker::setContent(const QualityPickerContent &content)
{
    // One state from the model: the index, its lists and its title always arrive together, so
    // the tab reset below is decided on the lists of the video now selected.
    const bool videoChanged =
        content.selectedPublicationVideo != m_content.selectedPublicationVideo;
    const bool titlesChanged =
        content.publicationTitles != m_content.publicationTitles || m_publication->count() == 0;
    m_content = content;
    m_title->setText(content.title);
    m_title->setToolTip(content.title);

    const qsizetype count = content.publicationTitles.size();
    m_publicationSection->setVisible(count >= 2);
    if (titlesChanged) {
        m_publication->clear();
        for (qsizetype i = 0; i < count; ++i)
            m_publication->addItem(
                QStringLiteral("%1 из %2").arg(content.publicationTitles.at(i)).arg(count), int(i));
    }
    if (count >= 2)
        m_publication->setCurrentIndex(qBound(0, content.selectedPublicationVideo, int(count) - 1));
    m_allVideos->setText(QStringLiteral("Скачать все видео (%1)").arg(count));

    // Another video of the publication: show what it offers with sound, else without.
    if (videoChanged) {
        if (!content.withAudioQualities.isEmpty())
            m_tab = QualityTab::WithAudio;
        else if (!content.videoOnlyQualities.isEmpty())
            m_tab = QualityTab::VideoOnly;
    }
    setTab(m_tab);
}

void QualityPicker::addRow(const QString &icon, const QColor &tint, const QString &title,
                           const QString &detail, std::function<void()> action)
{
    auto *row = new QualityActionRow(icon, tint, title, detail);
    connect(row, &QAbstractButton::clicked, this, std::move(action));
    m_offers->addWidget(row);
    m_rows.append(row);
}

void QualityPicker::addText(const QString &text, bool notice)
{
    auto *label = new QLabel(text);
    label->setWordWrap(true);
    Theme::style(label, notice ? Theme::TextRole::Subheadline : Theme::TextRole::Caption,
                 Theme::Emphasis::Secondary);
    label->setContentsMargins(0, notice ? 18 : 0, 0, notice ? 18 : 3);
    m_offers->addWidget(label);
    m_texts.append(label);
}

void QualityPicker::rebuildOffers()
{
    m_rows.clear();
    m_texts.clear();
    auto *page = new QWidget;
    m_offers = new QVBoxLayout(page);
    m_offers->setContentsMargins(0, 0, 4, 0);
    m_offers->setSpacing(8);

    switch (m_tab) {
    case QualityTab::WithAudio:
        if (m_content.withAudioQualities.isEmpty())
            addText(QStringLiteral("Готовых вариантов со звуком для этого видео нет."), true);
        for (const DownloadOption &option : m_content.withAudioQualities)
            addRow(QStringLiteral("play.rectangle.fill"), Theme::red(), option.video.title(),
                   option.detail(), [this, option] { emit selectWithAudio(option); });
        break;
    case QualityTab::AudioOnly:
        if (nothingOffered(m_content)) {
            // A video without a single format to keep has no best sound to fall back on either.
            addText(QStringLiteral("Платформа не отдала вариантов, которые можно сохранить или "
                                   "объединить на этом компьютере."),
                    true);
            break;
        }
        if (m_content.audioOnlyQualities.isEmpty()) {
            addRow(QStringLiteral("waveform"), Theme::red(),
                   QStringLiteral("Лучшее доступное аудио"),
                   QStringLiteral("Платформа не отдала отдельные варианты качества"),
                   [this] { emit selectBestAudio(); });
            break;
        }
        for (const AudioTrackGroup &group : groupAudioTracks(m_content.audioOnlyQualities)) {
            auto *heading = new QLabel(group.title);
            QFont f = Theme::font(Theme::TextRole::Caption);
            f.setWeight(QFont::DemiBold);
            heading->setFont(f);
            Theme::style(heading, Theme::TextRole::Caption, Theme::Emphasis::Secondary);
            heading->setFont(f);
            heading->setContentsMargins(0, 5, 0, 0);
            m_offers->addWidget(heading);
            m_texts.append(heading);
            for (const VideoQuality &quality : group.qualities)
                addRow(QStringLiteral("waveform"), Theme::red(), quality.audioOptionTitle(),
                       quality.audioOptionDetail(),
                       [this, quality] { emit selectAudioOnly(quality); });
        }
        break;
    case QualityTab::VideoOnly:
        if (m_content.videoOnlyQualities.isEmpty()) {
            addText(QStringLiteral("Отдельных видеодорожек для этого видео нет."), true);
            break;
        }
        addText(
            QStringLiteral("Файл будет скачан без звука, в исходном качестве выбранной дорожки."),
            false);
        for (const VideoQuality &quality : m_content.videoOnlyQualities)
            addRow(QStringLiteral("video.fill"), Theme::orange(), quality.title(),
                   quality.videoOnlyDetail(), [this, quality] { emit selectVideoOnly(quality); });
        break;
    }
    m_offers->addStretch(1);
    m_scroll->setWidget(page); // deletes the previous page
}
