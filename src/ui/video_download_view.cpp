#include "ui/video_download_view.h"

#include "ui/components/destination_row.h"
#include "ui/components/history_section.h"
#include "ui/components/link_row.h"
#include "ui/components/screen_column.h"
#include "ui/components/screen_header.h"
#include "ui/components/surface_card.h"
#include "ui/components/transfer_status_view.h"
#include "ui/icons.h"
#include "ui/quality_picker.h"
#include "ui/theme.h"
#include "ui/video_job_row.h"
#include "video/download_model.h"

#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QToolButton>
#include <QVBoxLayout>

namespace {

constexpr int kHistoryLimit = 5;

} // namespace

VideoDownloadView::VideoDownloadView(DownloadModel &model, QWidget *parent)
    : QWidget(parent), m_model(model)
{
    auto *page = new ScreenColumn(this);
    QVBoxLayout *column = page->column();
    column->addWidget(new ScreenHeader(
        QStringLiteral("Видео"), QStringLiteral("YouTube, соцсети и видеоплатформы"),
        QStringLiteral("arrow.down.to.line.compact"), Theme::red(), this));
    column->addWidget(buildDownloadCard());
    column->addWidget(buildStatusCard());
    column->addWidget(buildJobsCard());

    m_history = new HistorySection(kHistoryLimit, this);
    column->addWidget(m_history);

    auto *notice = new QLabel(QStringLiteral("Скачивайте только собственные материалы или контент, "
                                             "на использование которого у вас есть разрешение."),
                              this);
    notice->setWordWrap(true);
    notice->setAlignment(Qt::AlignHCenter);
    Theme::style(notice, Theme::TextRole::Caption, Theme::Emphasis::Secondary);
    column->addWidget(notice);
    column->addStretch(1);

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(page);

    connect(m_history, &HistorySection::revealRequested, &m_model,
            &DownloadModel::revealHistoryItem);
    connect(m_history, &HistorySection::removeRequested, &m_model,
            &DownloadModel::removeHistoryItem);
    connect(m_history, &HistorySection::clearRequested, &m_model, &DownloadModel::clearHistory);
    connect(&m_model, &DownloadModel::historyChanged, this,
            [this] { m_history->setItems(m_model.history()); });

    for (auto signal : {&DownloadModel::urlChanged, &DownloadModel::isWorkingChanged,
                        &DownloadModel::folderChanged})
        connect(&m_model, signal, this, &VideoDownloadView::refreshControls);
    for (auto signal :
         {&DownloadModel::isWorkingChanged, &DownloadModel::statusChanged,
          &DownloadModel::errorMessageChanged, &DownloadModel::engineInstallProgressChanged,
          &DownloadModel::canCancelChanged})
        connect(&m_model, signal, this, &VideoDownloadView::refreshStatus);
    connect(&m_model, &DownloadModel::jobsChanged, this, &VideoDownloadView::rebuildJobs);
    for (auto signal :
         {&DownloadModel::showQualityPickerChanged, &DownloadModel::availableQualitiesChanged,
          &DownloadModel::videoTitleChanged, &DownloadModel::publicationVideosChanged,
          &DownloadModel::selectedPublicationVideoChanged})
        connect(&m_model, signal, this, &VideoDownloadView::syncPicker);

    m_history->setItems(m_model.history());
    refreshControls();
    refreshStatus();
    rebuildJobs();
}

QWidget *VideoDownloadView::buildDownloadCard()
{
    auto *card = new SurfaceCard(this);
    card->contentLayout()->setSpacing(14);

    m_linkRow = new LinkRow(QStringLiteral("Вставьте ссылку на видео"), card);
    m_clear = new QToolButton(m_linkRow);
    m_clear->setIcon(Icons::icon(QStringLiteral("xmark.circle.fill"),
                                 Theme::textColor(Theme::Emphasis::Secondary)));
    m_clear->setAutoRaise(true);
    m_clear->setToolTip(QStringLiteral("Очистить ссылку"));
    m_clear->setAccessibleName(QStringLiteral("Очистить ссылку"));
    m_linkRow->addTrailing(m_clear);
    m_chooseFormat = new QPushButton(QStringLiteral("Выбрать формат"), m_linkRow);
    Theme::makeProminent(m_chooseFormat, Theme::red());
    m_linkRow->addTrailing(m_chooseFormat);
    card->contentLayout()->addWidget(m_linkRow);

    m_destination = new DestinationRow(card);
    card->contentLayout()->addWidget(m_destination);

    connect(m_linkRow->field(), &QLineEdit::textEdited, &m_model, &DownloadModel::setUrl);
    connect(m_linkRow->field(), &QLineEdit::returnPressed, this,
            &VideoDownloadView::submitFromField);
    connect(m_clear, &QToolButton::clicked, this, [this] { m_model.setUrl(QString()); });
    connect(m_chooseFormat, &QPushButton::clicked, &m_model, &DownloadModel::primaryAction);
    connect(m_destination, &DestinationRow::openRequested, &m_model, &DownloadModel::revealFolder);
    connect(m_destination, &DestinationRow::chooseRequested, &m_model,
            &DownloadModel::chooseFolder);
    return card;
}

QWidget *VideoDownloadView::buildStatusCard()
{
    m_statusCard = new SurfaceCard(this);
    m_statusCard->contentLayout()->setSpacing(12);
    m_statusView = new TransferStatusView(Theme::red(), m_statusCard);
    m_statusCard->contentLayout()->addWidget(m_statusView);

    m_cancelRow = new QWidget(m_statusCard);
    auto *row = new QHBoxLayout(m_cancelRow);
    row->setContentsMargins(0, 0, 0, 0);
    row->addStretch(1);
    m_cancel = new QPushButton(QStringLiteral("Отменить"), m_cancelRow);
    m_cancel->setAutoDefault(false);
    Theme::makeDestructive(m_cancel);
    row->addWidget(m_cancel);
    m_statusCard->contentLayout()->addWidget(m_cancelRow);
    connect(m_cancel, &QPushButton::clicked, &m_model, &DownloadModel::cancelPreparation);
    return m_statusCard;
}

QWidget *VideoDownloadView::buildJobsCard()
{
    m_jobsCard = new SurfaceCard(this);
    m_jobsCard->contentLayout()->setSpacing(10);
    auto *header = new QHBoxLayout;
    auto *icon = new QLabel(m_jobsCard);
    icon->setPixmap(
        Icons::pixmap(QStringLiteral("arrow.down.circle"), Theme::red(), 18, devicePixelRatioF()));
    auto *label = new QLabel(QStringLiteral("Загрузки"), m_jobsCard);
    label->setFont(Theme::font(Theme::TextRole::Headline));
    m_jobsSummary = new QLabel(m_jobsCard);
    Theme::style(m_jobsSummary, Theme::TextRole::Caption, Theme::Emphasis::Secondary);
    m_jobsSummary->setFont(Theme::withTabularDigits(m_jobsSummary->font()));
    header->addWidget(icon);
    header->addWidget(label);
    header->addStretch(1);
    header->addWidget(m_jobsSummary);
    m_jobsCard->contentLayout()->addLayout(header);

    auto *rows = new QWidget(m_jobsCard);
    m_jobsLayout = new QVBoxLayout(rows);
    m_jobsLayout->setContentsMargins(0, 0, 0, 0);
    m_jobsLayout->setSpacing(10);
    m_jobsCard->contentLayout()->addWidget(rows);
    return m_jobsCard;
}

void VideoDownloadView::submitFromField()
{
    if (m_model.validURL() && !m_model.isWorking())
        m_model.primaryAction();
}

void VideoDownloadView::refreshControls()
{
    QLineEdit *field = m_linkRow->field();
    if (field->text() != m_model.url())
        field->setText(m_model.url());
    const bool working = m_model.isWorking();
    field->setEnabled(!working);
    m_clear->setVisible(!m_model.url().isEmpty() && !working);
    m_chooseFormat->setEnabled(m_model.validURL() && !working);
    m_destination->setPath(m_model.folder());
    m_destination->setChangeDisabled(working);
}

void VideoDownloadView::refreshStatus()
{
    const bool working = m_model.isWorking();
    const std::optional<QString> error = m_model.errorMessage();
    m_statusCard->setVisible(working || error.has_value());
    const std::optional<double> install = m_model.engineInstallProgress();
    m_statusView->setState(install, working && !install, m_model.status(), QString(), error);
    m_cancelRow->setVisible(working && m_model.canCancel());
}

void VideoDownloadView::rebuildJobs()
{
    const QList<VideoDownloadJob *> jobs = m_model.visibleJobs();
    QList<VideoDownloadJob *> shown;
    for (VideoJobRow *row : std::as_const(m_rows))
        shown.append(row->job());
    if (shown != jobs) {
        while (QLayoutItem *item = m_jobsLayout->takeAt(0)) {
            if (QWidget *w = item->widget())
                w->deleteLater();
            delete item;
        }
        m_rows.clear();
        for (VideoDownloadJob *job : jobs) {
            if (!m_rows.isEmpty()) {
                auto *divider = new QFrame(m_jobsCard);
                divider->setFrameShape(QFrame::HLine);
                divider->setFrameShadow(QFrame::Plain);
                divider->setStyleSheet(QStringLiteral("color: rgba(127,127,127,60);"));
                m_jobsLayout->addWidget(divider);
            }
            auto *row = new VideoJobRow(job, m_jobsCard);
            connect(row, &VideoJobRow::cancelOrRemoveRequested, &m_model,
                    &DownloadModel::cancelOrRemove);
            m_jobsLayout->addWidget(row);
            m_rows.append(row);
        }
    }
    m_jobsCard->setVisible(!jobs.isEmpty());
    refreshJobsSummary();
}

void VideoDownloadView::refreshJobsSummary()
{
    const int running = m_model.runningJobCount();
    const int queued = m_model.queuedJobCount();
    if (queued >= 1)
        m_jobsSummary->setText(
            QStringLiteral("%1 активных · %2 в очереди").arg(running).arg(queued));
    else if (running >= 1)
        m_jobsSummary->setText(QStringLiteral("%1 из 3 активных").arg(running));
    else
        m_jobsSummary->setText(QStringLiteral("завершено"));
}

QualityPickerContent VideoDownloadView::pickerContent() const
{
    QualityPickerContent content;
    content.title = m_model.videoTitle();
    for (const PublicationVideo &video : m_model.publicationVideos())
        content.publicationTitles.append(video.title);
    content.selectedPublicationVideo = m_model.selectedPublicationVideo();
    content.withAudioQualities = m_model.availableQualities();
    content.audioOnlyQualities = m_model.availableAudioQualities();
    content.videoOnlyQualities = m_model.availableVideoOnlyQualities();
    content.startOnVideoOnly = m_model.startOnVideoOnlyTab();
    return content;
}

void VideoDownloadView::syncPicker()
{
    if (!m_model.showQualityPicker()) {
        if (m_picker)
            m_picker->close();
        return;
    }
    if (m_picker) {
        m_picker->setContent(pickerContent());
        return;
    }
    m_picker = new QualityPicker(pickerContent(), window());
    m_picker->setAttribute(Qt::WA_DeleteOnClose);
    m_picker->setWindowModality(Qt::WindowModal);
    connect(m_picker, &QDialog::finished, &m_model,
            [this] { m_model.setShowQualityPicker(false); });
    connect(m_picker, &QualityPicker::publicationVideoSelected, &m_model,
            &DownloadModel::selectPublicationVideo);
    connect(m_picker, &QualityPicker::selectAllVideos, &m_model,
            &DownloadModel::downloadAllPublicationVideos);
    connect(m_picker, &QualityPicker::selectWithAudio, &m_model, [this](const DownloadOption &o) {
        m_model.setKind(DownloadKind::Video);
        m_model.startDownload(o);
    });
    connect(m_picker, &QualityPicker::selectAudioOnly, &m_model, [this](const VideoQuality &q) {
        m_model.setKind(DownloadKind::Audio);
        m_model.startDownload(q.formatID, false);
    });
    connect(m_picker, &QualityPicker::selectBestAudio, &m_model, [this] {
        m_model.setKind(DownloadKind::Audio);
        m_model.startDownload(QStringLiteral("bestaudio[ext=m4a]/bestaudio"), true);
    });
    connect(m_picker, &QualityPicker::selectVideoOnly, &m_model, [this](const VideoQuality &q) {
        m_model.setKind(DownloadKind::Video);
        m_model.startDownload(q.formatID, false);
    });
    m_picker->open();
}
