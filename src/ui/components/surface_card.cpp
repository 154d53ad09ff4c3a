#include "ui/components/surface_card.h"

#include "ui/theme.h"

#include <QPainter>
#include <QPainterPath>
#include <QVBoxLayout>

SurfaceCard::SurfaceCard(QWidget *parent) : QWidget(parent)
{
    m_layout = new QVBoxLayout(this);
    m_layout->setContentsMargins(16, 16, 16, 16);
    m_layout->setSpacing(0);
    setAttribute(Qt::WA_StyledBackground, false);
}

void SurfaceCard::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF r = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    QPainterPath shape;
    shape.addRoundedRect(r, 13, 13);
    QColor fill = Theme::cardBackground();
    fill.setAlphaF(0.72);
    p.fillPath(shape, fill);
    p.setPen(QPen(Theme::textColor(Theme::Emphasis::Quaternary), 1));
    p.drawPath(shape);
}
