#include "ui/components/transfer_status_view.h"

#include "ui/components/elided_label.h"
#include "ui/theme.h"

#include <QAccessible>
#include <QLabel>
#include <QProgressBar>
#include <QVBoxLayout>

#include <cmath>

namespace {

constexpr int kBarSteps = 1000;

} // namespace

TransferStatusView::TransferStatusView(const QColor &tint, QWidget *parent) : QWidget(parent)
{
    m_bar = new QProgressBar(this);
    m_bar->setRange(0, kBarSteps);
    m_bar->setTextVisible(false);
    m_bar->setFixedHeight(8);
    m_bar->setAccessibleName(QStringLiteral("Прогресс"));
    QPalette p = m_bar->palette();
    p.setColor(QPalette::Highlight, tint);
    m_bar->setPalette(p);

    // A busy bar stands in for the small spinner: same meaning, native on every style.
    m_spinner = new QProgressBar(this);
    m_spinner->setRange(0, 0);
    m_spinner->setTextVisible(false);
    m_spinner->setFixedSize(64, 8);
    m_spinner->setAccessibleName(QStringLiteral("Выполняется"));

    m_status = new QLabel(this);
    m_status->setWordWrap(true);
    QFont statusFont = Theme::font(Theme::TextRole::Subheadline);
    statusFont.setWeight(QFont::Medium);
    m_status->setFont(statusFont);
    m_status->setTextFormat(Qt::PlainText);

    m_detail = new ElidedLabel(Qt::ElideMiddle, 2, this);
    Theme::style(m_detail, Theme::TextRole::Caption, Theme::Emphasis::Secondary);
    m_detail->setFont(Theme::withTabularDigits(m_detail->font()));

    m_error = ElidedLabel::errorLine(this);

    auto *column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(8);
    column->addWidget(m_bar);
    column->addWidget(m_spinner);
    column->addWidget(m_status);
    column->addWidget(m_detail);
    column->addWidget(m_error);

    setState(std::nullopt, false, QString(), QString());
}

void TransferStatusView::setState(std::optional<double> progress, bool isIndeterminate,
                                  const QString &status, const QString &detail,
                                  const std::optional<QString> &error)
{
    m_bar->setVisible(progress.has_value());
    if (progress) {
        const double clamped = std::isfinite(*progress) ? qBound(0.0, *progress, 1.0) : 0.0;
        m_bar->setValue(int(std::lround(clamped * kBarSteps)));
    }
    m_spinner->setVisible(!progress && isIndeterminate);
    const bool statusChanged = m_status->text() != status;
    m_status->setText(status);
    m_detail->setFullText(detail);
    m_detail->setVisible(!detail.isEmpty());
    const bool hasError = error && !error->isEmpty();
    const bool errorChanged = hasError && m_error->fullText() != *error;
    m_error->setFullText(hasError ? *error : QString());
    m_error->setVisible(hasError);
    // Nobody looks at the card while the work goes on: a screen reader is told of each new
    // status and error (the detail's ticking bytes would only drown them).
    if (statusChanged)
        announce(m_status);
    if (errorChanged)
        announce(m_error);
}

void TransferStatusView::announce(QWidget *label)
{
    QAccessibleEvent event(label, QAccessible::NameChanged);
    QAccessible::updateAccessibility(&event);
}
