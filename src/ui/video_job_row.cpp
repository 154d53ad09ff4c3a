#include "ui/video_job_row.h"

#include "ui/components/elided_label.h"
#include "ui/icons.h"
#include "ui/theme.h"
#include "video/video_download_job.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QToolButton>
#include <QVBoxLayout>

#include <cmath>

namespace {

struct PhaseLook {
    const char *icon;
    QColor color;
    const char *word;
};

PhaseLook lookOf(VideoJobPhase phase)
{
    switch (phase) {
    case VideoJobPhase::Queued:
        return {"clock", Theme::textColor(Theme::Emphasis::Secondary), "В очереди"};
    case VideoJobPhase::Running:
        return {"arrow.down.circle.fill", Theme::red(), "Скачивается"};
    case VideoJobPhase::Completed:
        return {"checkmark.circle.fill", Theme::green(), "Готово"};
    case VideoJobPhase::Failed:
        return {"exclamationmark.triangle.fill", Theme::red(), "Ошибка"};
    case VideoJobPhase::Canceled:
        return {"xmark.circle.fill", Theme::orange(), "Отменено"};
    }
    return {"clock", Theme::textColor(Theme::Emphasis::Secondary), "В очереди"};
}

} // namespace

VideoJobRow::VideoJobRow(VideoDownloadJob *job, QWidget *parent) : QWidget(parent), m_job(job)
{
    m_icon = new QLabel(this);
    m_icon->setFixedWidth(18);
    auto *title = new ElidedLabel(Qt::ElideRight, 1, this);
    QFont titleFont = Theme::font(Theme::TextRole::Subheadline);
    titleFont.setWeight(QFont::DemiBold);
    title->setFont(titleFont);
    title->setFullText(job->title());
    m_phaseWord = new QLabel(this);
    Theme::style(m_phaseWord, Theme::TextRole::Caption, Theme::Emphasis::Secondary);
    m_button = new QToolButton(this);
    m_button->setAutoRaise(true);
    m_button->setIconSize(QSize(16, 16));
    connect(m_button, &QToolButton::clicked, this, [this] {
        if (m_job)
            emit cancelOrRemoveRequested(m_job);
    });

    auto *top = new QHBoxLayout;
    top->setSpacing(10);
    top->addWidget(m_icon, 0, Qt::AlignVCenter);
    top->addWidget(title, 1);
    top->addWidget(m_phaseWord, 0, Qt::AlignVCenter);
    top->addWidget(m_button, 0, Qt::AlignVCenter);

    m_bar = new QProgressBar(this);
    m_bar->setRange(0, 1000);
    m_bar->setTextVisible(false);
    m_bar->setFixedHeight(6);
    m_bar->setAccessibleName(QStringLiteral("Прогресс: ") + job->title());

    m_status = new QLabel(this);
    QFont statusFont = Theme::font(Theme::TextRole::Caption);
    statusFont.setWeight(QFont::Medium);
    m_status->setFont(statusFont);
    m_detail = new QLabel(this);
    Theme::style(m_detail, Theme::TextRole::Caption, Theme::Emphasis::Secondary);
    m_detail->setFont(Theme::withTabularDigits(m_detail->font()));
    m_error = ElidedLabel::errorLine(this);

    auto *column = new QVBoxLayout(this);
    column->setContentsMargins(0, 4, 0, 4);
    column->setSpacing(7);
    column->addLayout(top);
    column->addWidget(m_bar);
    column->addWidget(m_status);
    column->addWidget(m_detail);
    column->addWidget(m_error);

    connect(job, &VideoDownloadJob::videoStateChanged, this, &VideoJobRow::refresh);
    refresh(job->videoState());
}

void VideoJobRow::changeEvent(QEvent *event)
{
    // Light and dark have their own colours: draw the phase's icons again in the new ones.
    if ((event->type() == QEvent::PaletteChange
         || event->type() == QEvent::ApplicationPaletteChange)
        && m_job) {
        m_shownPhase.reset();
        refresh(m_job->videoState());
    }
    QWidget::changeEvent(event);
}

void VideoJobRow::refresh(const VideoJobState &state)
{
    const VideoJobPhase phase = videoJobPhase(state);
    const PhaseLook look = lookOf(phase);
    // Most changes are progress ticks: what depends on the phase alone is redrawn only when
    // the phase changes.
    if (phase != m_shownPhase) {
        m_shownPhase = phase;
        m_icon->setPixmap(
            Icons::pixmap(QString::fromLatin1(look.icon), look.color, 16, devicePixelRatioF()));
        m_icon->setAccessibleName(QString::fromUtf8(look.word));
        m_phaseWord->setText(QString::fromUtf8(look.word));

        const bool active = !isTerminal(phase);
        m_button->setIcon(
            Icons::icon(active ? QStringLiteral("xmark.circle") : QStringLiteral("xmark"),
                        Theme::textColor(Theme::Emphasis::Secondary)));
        const QString tip =
            active ? QStringLiteral("Отменить загрузку") : QStringLiteral("Убрать из списка");
        m_button->setToolTip(tip);
        m_button->setAccessibleName(tip);

        m_bar->setVisible(phase == VideoJobPhase::Running || phase == VideoJobPhase::Completed);
        QPalette bp = m_bar->palette();
        bp.setColor(QPalette::Highlight, look.color);
        m_bar->setPalette(bp);
    }
    m_bar->setValue(int(std::lround(videoJobBarFraction(state) * 1000)));

    m_status->setText(videoJobStatus(state));
    const QString detail = videoJobDetail(state);
    m_detail->setText(detail);
    m_detail->setVisible(!detail.isEmpty());
    m_error->setFullText(state.failure);
    m_error->setVisible(!state.failure.isEmpty());
}
