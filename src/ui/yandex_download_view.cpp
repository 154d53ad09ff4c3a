#include "ui/yandex_download_view.h"

#include "ui/components/destination_row.h"
#include "ui/components/disclosure_header.h"
#include "ui/components/focus_handoff.h"
#include "ui/components/history_section.h"
#include "ui/components/link_row.h"
#include "ui/components/screen_column.h"
#include "ui/components/screen_header.h"
#include "ui/components/surface_card.h"
#include "ui/components/transfer_status_view.h"
#include "ui/components/wheel_guard.h"
#include "ui/icons.h"
#include "ui/theme.h"
#include "yandex/download_manager.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

constexpr int kHistoryLimit = 5;

QPushButton *controlButton(const QString &text, const QString &icon, const QColor &color,
                           QWidget *parent)
{
    auto *button = new QPushButton(Icons::icon(icon, color), text, parent);
    button->setCursor(Qt::PointingHandCursor);
    button->setAutoDefault(false);
    return button;
}

} // namespace

YandexDownloadView::YandexDownloadView(DownloadManager &manager, QWidget *parent)
    : QWidget(parent), m_manager(manager)
{
    auto *page = new ScreenColumn(this);
    QVBoxLayout *column = page->column();
    column->addWidget(
        new ScreenHeader(QStringLiteral("Яндекс Диск"), QStringLiteral("Файлы и публичные папки"),
                         QStringLiteral("arrow.down.to.line.compact"), Theme::blue(), this));
    column->addWidget(buildDownloadCard());
    column->addWidget(buildSettingsCard());
    column->addWidget(buildStatusCard());

    m_history = new HistorySection(kHistoryLimit, this);
    column->addWidget(m_history);
    column->addStretch(1);

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(page);

    m_history->bind(m_manager.history());
    m_history->setContinuable(
        [this](const DownloadHistoryItem &item) { return m_manager.canContinue(item); });
    connect(m_history, &HistorySection::continueRequested, &m_manager,
            &DownloadManager::continueRun);
    m_destination->bind(m_manager.destination());
    connect(&m_manager, &DownloadManager::stateChanged, this, &YandexDownloadView::render);
    render(m_manager.state());
}

QWidget *YandexDownloadView::buildDownloadCard()
{
    auto *card = new SurfaceCard(this);
    card->contentLayout()->setSpacing(14);

    m_linkRow = new LinkRow(QStringLiteral("Публичная ссылка Яндекс Диска"), card);
    m_download = new QPushButton(QStringLiteral("Скачать"), m_linkRow);
    Theme::makeProminent(m_download, Theme::blue());
    m_linkRow->addTrailing(m_download);
    card->contentLayout()->addWidget(m_linkRow);

    m_destination = new DestinationRow(card);
    card->contentLayout()->addWidget(m_destination);

    connect(m_linkRow->field(), &QLineEdit::textEdited, &m_manager,
            &DownloadManager::setPublicLink);
    connect(m_linkRow->field(), &QLineEdit::returnPressed, this,
            &YandexDownloadView::submitFromField);
    connect(m_download, &QPushButton::clicked, &m_manager, &DownloadManager::start);
    return card;
}

QWidget *YandexDownloadView::buildSettingsCard()
{
    auto *card = new SurfaceCard(this);
    m_settingsHeader =
        new DisclosureHeader(QStringLiteral("Настройки"), QStringLiteral("gearshape"), card);
    card->contentLayout()->addWidget(m_settingsHeader);

    m_settingsContent = new QWidget(card);
    auto *content = new QVBoxLayout(m_settingsContent);
    content->setContentsMargins(0, 12, 0, 0);
    content->setSpacing(13);
    auto *row = new QHBoxLayout;
    auto *label = new QLabel(QStringLiteral("Параллельные загрузки"), m_settingsContent);
    m_parallel = new QComboBox(m_settingsContent);
    for (int n = 1; n <= DownloadManager::kMaxConcurrentDownloads; ++n)
        m_parallel->addItem(QString::number(n), n);
    m_parallel->setAccessibleName(QStringLiteral("Параллельные загрузки"));
    WheelGuard::passWheelToPage(m_parallel);
    label->setBuddy(m_parallel);
    row->addWidget(label);
    row->addStretch(1);
    row->addWidget(m_parallel);
    content->addLayout(row);
    card->contentLayout()->addWidget(m_settingsContent);
    m_settingsContent->setVisible(false);

    connect(m_settingsHeader, &DisclosureHeader::toggled, m_settingsContent, &QWidget::setVisible);
    connect(m_parallel, &QComboBox::activated, this,
            [this](int index) { m_manager.setConcurrentDownloads(index + 1); });
    return card;
}

QWidget *YandexDownloadView::buildStatusCard()
{
    m_statusCard = new SurfaceCard(this);
    m_statusCard->contentLayout()->setSpacing(12);
    m_statusView = new TransferStatusView(Theme::blue(), m_statusCard);
    m_statusCard->contentLayout()->addWidget(m_statusView);

    m_controlRow = new QWidget(m_statusCard);
    auto *row = new QHBoxLayout(m_controlRow);
    row->setContentsMargins(0, 0, 0, 0);
    row->addStretch(1);
    m_pauseResume = controlButton(QStringLiteral("Пауза"), QStringLiteral("pause.fill"), QColor(),
                                  m_controlRow);
    m_stop = controlButton(QStringLiteral("Остановить"), QStringLiteral("stop.fill"), Theme::red(),
                           m_controlRow);
    Theme::makeDestructive(m_stop);
    m_stopping = new QLabel(QStringLiteral("Останавливается…"), m_controlRow);
    Theme::style(m_stopping, Theme::TextRole::Caption, Theme::Emphasis::Secondary);
    row->addWidget(m_pauseResume);
    row->addWidget(m_stop);
    row->addWidget(m_stopping);
    m_statusCard->contentLayout()->addWidget(m_controlRow);

    connect(m_pauseResume, &QPushButton::clicked, &m_manager, [this] {
        if (m_manager.state().phase == DownloadPhase::Paused)
            m_manager.resume();
        else
            m_manager.pause();
    });
    connect(m_stop, &QPushButton::clicked, &m_manager, &DownloadManager::stop);
    return m_statusCard;
}

bool YandexDownloadView::canDownload() const
{
    const DownloadState &state = m_manager.state();
    return state.canStart() && !state.publicLink.trimmed().isEmpty();
}

void YandexDownloadView::submitFromField()
{
    if (canDownload())
        m_manager.start();
}

void YandexDownloadView::render(const DownloadState &state)
{
    QLineEdit *field = m_linkRow->field();
    if (field->text() != state.publicLink)
        field->setText(state.publicLink);
    const bool canStart = state.canStart();
    field->setEnabled(canStart);
    m_download->setEnabled(canDownload());
    m_destination->setChangeDisabled(!canStart);
    m_parallel->setCurrentIndex(m_parallel->findData(state.concurrentDownloads));
    m_parallel->setEnabled(canStart);

    const DownloadPhase phase = state.phase;
    m_statusCard->setVisible(phase != DownloadPhase::Idle);
    const bool underWay = phase == DownloadPhase::Running || phase == DownloadPhase::Paused
                          || phase == DownloadPhase::Stopping;
    const std::optional<double> progress =
        state.hasDeterminateProgress ? std::optional<double>(state.progressValue) : std::nullopt;
    m_statusView->setState(progress, underWay, state.status, state.detail);

    const bool stopping = phase == DownloadPhase::Stopping;
    const bool paused = phase == DownloadPhase::Paused;
    if (paused != m_shownPaused) {
        m_shownPaused = paused;
        m_pauseResume->setText(paused ? QStringLiteral("Продолжить") : QStringLiteral("Пауза"));
        m_pauseResume->setIcon(
            Icons::icon(paused ? QStringLiteral("play.fill") : QStringLiteral("pause.fill")));
    }
    // What shows comes first, so that a control hiding with the focus has an heir to give it
    // to: "Остановить" hands it to "Останавливается…", and that to the link field at the end.
    const bool controls = state.isControllable() || stopping;
    if (controls)
        m_controlRow->setVisible(true);
    if (stopping)
        m_stopping->setVisible(true);
    FocusHandoff::setVisible(m_pauseResume, state.isControllable(), {m_stopping, field});
    FocusHandoff::setVisible(m_stop, !stopping, {m_stopping, field});
    FocusHandoff::setVisible(m_stopping, stopping, {field});
    FocusHandoff::setVisible(m_controlRow, controls, {field});
}
