#include "ui/video_download_view.h"

#include "ui/components/destination_row.h"
#include "ui/components/focus_handoff.h"
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

#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
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

    m_history->bind(m_model.history());
    m_destination->bind(m_model.folder());
    connect(&m_model.analysis(), &LinkAnalysis::stateChanged, this,
            &VideoDownloadView::showAnalysis);
    connect(&m_model.queue(), &DownloadQueue::stateChanged, this, &VideoDownloadView::showJobs);
    connect(&m_model.choices(), &QualityChoices::stateChanged, this,
            &VideoDownloadView::showChoices);

    showAnalysis(m_model.analysis().state());
    showJobs(m_model.queue().state());
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
    BrowserSignIn &signIn = m_model.signIn();
    m_forgetSignIn =
        m_destination->addMenuAction(QStringLiteral("Не использовать вход через браузер"));
    m_forgetSignIn->setVisible(signIn.chosenName().has_value());
    connect(m_forgetSignIn, &QAction::triggered, &signIn, &BrowserSignIn::forget);
    connect(&signIn, &BrowserSignIn::changed, m_forgetSignIn,
            [this, &signIn] { m_forgetSignIn->setVisible(signIn.chosenName().has_value()); });

    LinkAnalysis &analysis = m_model.analysis();
    connect(m_linkRow->field(), &QLineEdit::textEdited, &analysis, &LinkAnalysis::setLink);
    connect(m_linkRow->field(), &QLineEdit::returnPressed, &m_model, &DownloadModel::primaryAction);
    connect(m_clear, &QToolButton::clicked, &analysis, [&analysis] { analysis.setLink({}); });
    connect(m_chooseFormat, &QPushButton::clicked, &m_model, &DownloadModel::primaryAction);
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
    m_signIn = new QPushButton(QStringLiteral("Войти через браузер"), m_cancelRow);
    m_signIn->setAutoDefault(false);
    m_signIn->setMenu(new QMenu(m_signIn));
    row->addWidget(m_signIn);
    m_cancel = new QPushButton(QStringLiteral("Отменить"), m_cancelRow);
    m_cancel->setAutoDefault(false);
    Theme::makeDestructive(m_cancel);
    row->addWidget(m_cancel);
    m_statusCard->contentLayout()->addWidget(m_cancelRow);
    connect(m_cancel, &QPushButton::clicked, &m_model.analysis(), &LinkAnalysis::cancel);
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

void VideoDownloadView::showAnalysis(const AnalysisState &state)
{
    QLineEdit *field = m_linkRow->field();
    if (field->text() != state.link)
        field->setText(state.link);
    const bool working = state.isWorking();
    field->setEnabled(!working);
    // The clear button and "Отменить" hide when pressed: the focus goes back to the link.
    FocusHandoff::setVisible(m_clear, !state.link.isEmpty() && !working, {field});
    m_chooseFormat->setEnabled(state.canAnalyse());
    m_destination->setChangeDisabled(working);

    const bool statusShown = working || state.error.has_value();
    if (statusShown)
        m_statusCard->setVisible(true);
    m_statusView->setState(state.installProgress, working && !state.installProgress, state.status,
                           QString(), state.error);
    const bool offerSignIn = !working && !state.signInBrowsers.isEmpty();
    FocusHandoff::setVisible(m_cancel, working && state.canCancel, {field});
    m_signIn->setVisible(offerSignIn);
    if (offerSignIn)
        showSignInChoices(state.signInBrowsers);
    FocusHandoff::setVisible(m_cancelRow, (working && state.canCancel) || offerSignIn, {field});
    FocusHandoff::setVisible(m_statusCard, statusShown, {field});
}

void VideoDownloadView::showSignInChoices(const QList<BrowserProfile> &browsers)
{
    if (m_signInBrowsers == browsers)
        return;
    m_signInBrowsers = browsers;
    QMenu *menu = m_signIn->menu();
    menu->clear();
    for (const BrowserProfile &browser : browsers) {
        menu->addAction(browser.name, &m_model, [this, engineName = browser.engineName] {
            m_model.signInWithBrowser(engineName);
        });
    }
}

void VideoDownloadView::showJobs(const QueueState &state)
{
    QList<VideoDownloadJob *> shown;
    for (VideoJobRow *row : std::as_const(m_rows))
        shown.append(row->job());
    if (shown != state.jobs) {
        // A removed row takes its focused button with it: the focus goes to the row now in its
        // place (or the last one), else to the link.
        qsizetype focusedRow = -1;
        for (qsizetype i = 0; i < m_rows.size(); ++i)
            if (FocusHandoff::holdsFocus(m_rows.at(i)))
                focusedRow = i;
        while (QLayoutItem *item = m_jobsLayout->takeAt(0)) {
            if (QWidget *w = item->widget())
                w->deleteLater();
            delete item;
        }
        m_rows.clear();
        for (VideoDownloadJob *job : state.jobs) {
            if (!m_rows.isEmpty()) {
                auto *divider = new QFrame(m_jobsCard);
                divider->setFrameShape(QFrame::HLine);
                divider->setFrameShadow(QFrame::Plain);
                divider->setStyleSheet(QStringLiteral("color: rgba(127,127,127,60);"));
                m_jobsLayout->addWidget(divider);
            }
            auto *row = new VideoJobRow(job, m_jobsCard);
            connect(row, &VideoJobRow::cancelOrRemoveRequested, &m_model.queue(),
                    &DownloadQueue::cancelOrRemove);
            m_jobsLayout->addWidget(row);
            row->show(); // now, not on the next turn: it may take the focus below
            m_rows.append(row);
        }
        if (focusedRow >= 0) {
            if (m_rows.isEmpty()
                || !FocusHandoff::passTo({m_rows.value(focusedRow, m_rows.last())->button()}))
                FocusHandoff::passTo({m_linkRow->field(), m_chooseFormat});
        }
    }
    m_jobsCard->setVisible(!state.jobs.isEmpty());
    if (state.queued >= 1)
        m_jobsSummary->setText(
            QStringLiteral("%1 активных · %2 в очереди").arg(state.running).arg(state.queued));
    else if (state.running >= 1)
        m_jobsSummary->setText(QStringLiteral("%1 из %2 активных")
                                   .arg(state.running)
                                   .arg(DownloadQueue::kMaximumConcurrentJobs));
    else
        m_jobsSummary->setText(QStringLiteral("завершено"));
}

void VideoDownloadView::showChoices(const ChoicesState &state)
{
    if (!state.showPicker) {
        if (m_picker)
            m_picker->close();
        return;
    }
    QualityPickerContent content;
    content.title = state.title;
    for (const PublicationVideo &video : state.publicationVideos)
        content.publicationTitles.append(video.title);
    content.selectedPublicationVideo = state.selectedVideo;
    content.withAudioQualities = state.lists.withAudio;
    content.audioOnlyQualities = state.lists.audioOnly;
    content.videoOnlyQualities = state.lists.videoOnly;
    content.startOnVideoOnly = state.startOnVideoOnly;
    if (m_picker)
        m_picker->setContent(content);
    else
        openPicker(content);
}

void VideoDownloadView::openPicker(const QualityPickerContent &content)
{
    m_picker = new QualityPicker(content, window());
    m_picker->setAttribute(Qt::WA_DeleteOnClose);
    m_picker->setWindowModality(Qt::WindowModal);
    connect(m_picker, &QDialog::finished, &m_model.choices(),
            [this] { m_model.choices().setPickerShown(false); });
    connect(m_picker, &QualityPicker::publicationVideoSelected, &m_model,
            &DownloadModel::selectPublicationVideo);
    connect(m_picker, &QualityPicker::selectAllVideos, &m_model,
            &DownloadModel::downloadAllPublicationVideos);
    connect(m_picker, &QualityPicker::selectWithAudio, &m_model,
            qOverload<const DownloadOption &>(&DownloadModel::startDownload));
    connect(m_picker, &QualityPicker::selectAudioOnly, &m_model, &DownloadModel::downloadTrack);
    connect(m_picker, &QualityPicker::selectBestAudio, &m_model, &DownloadModel::downloadBestSound);
    connect(m_picker, &QualityPicker::selectVideoOnly, &m_model, &DownloadModel::downloadTrack);
    m_picker->open();
}
