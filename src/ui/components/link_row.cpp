#include "ui/components/link_row.h"

#include "ui/icons.h"
#include "ui/theme.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPainterPath>

LinkRow::LinkRow(const QString &placeholder, QWidget *parent) : QWidget(parent)
{
    auto *icon = new QLabel(this);
    icon->setPixmap(Icons::pixmap(QStringLiteral("link"),
                                  Theme::textColor(Theme::Emphasis::Secondary), 18,
                                  devicePixelRatioF()));

    m_field = new QLineEdit(this);
    m_field->setFrame(false);
    m_field->setPlaceholderText(placeholder);
    m_field->setAccessibleName(placeholder);
    m_field->setClearButtonEnabled(false);
    m_field->setAttribute(Qt::WA_MacShowFocusRect, false);
    m_field->setStyleSheet(QStringLiteral("QLineEdit { background: transparent; }"));

    keepLinkLegible();

    m_row = new QHBoxLayout(this);
    m_row->setContentsMargins(12, 12, 12, 12);
    m_row->setSpacing(10);
    m_row->addWidget(icon, 0, Qt::AlignVCenter);
    m_row->addWidget(m_field, 1);
}

void LinkRow::addTrailing(QWidget *widget)
{
    m_row->addWidget(widget, 0, Qt::AlignVCenter);
}

void LinkRow::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    QPainterPath shape;
    shape.addRoundedRect(QRectF(rect()), 10, 10);
    QColor fill = Theme::textColor(Theme::Emphasis::Quaternary);
    fill.setAlphaF(fill.alphaF() * 0.55);
    p.fillPath(shape, fill);
}

void LinkRow::changeEvent(QEvent *event)
{
    if (event->type() == QEvent::PaletteChange || event->type() == QEvent::ApplicationPaletteChange)
        keepLinkLegible();
    QWidget::changeEvent(event);
}

// A locked field (while a download runs) still shows the user's link in the normal text
// colour: it is what is being downloaded, not an unavailable choice.
void LinkRow::keepLinkLegible()
{
    const QColor normal = palette().color(QPalette::Active, QPalette::Text);
    QPalette p = m_field->palette();
    if (p.color(QPalette::Disabled, QPalette::Text) == normal)
        return;
    p.setColor(QPalette::Disabled, QPalette::Text, normal);
    m_field->setPalette(p);
}
