#include "ui/components/quality_action_row.h"

#include "ui/icons.h"
#include "ui/theme.h"

#include <QKeyEvent>
#include <QPainter>
#include <QPainterPath>
#include <QStyle>
#include <QStyleOptionFocusRect>

namespace {

constexpr int kPadding = 13;
constexpr int kIconFrame = 22;
constexpr int kTrailing = 18;

QFont titleFont()
{
    QFont f = Theme::font(Theme::TextRole::Subheadline);
    f.setWeight(QFont::DemiBold);
    return f;
}

} // namespace

QualityActionRow::QualityActionRow(const QString &icon, const QColor &tint, const QString &title,
                                   const QString &detail, QWidget *parent)
    : QAbstractButton(parent), m_icon(icon), m_tint(tint), m_detail(detail)
{
    setText(title);
    setCursor(Qt::PointingHandCursor);
    setFocusPolicy(Qt::StrongFocus);
    setAccessibleName(title);
    setAccessibleDescription(detail);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

QSize QualityActionRow::sizeHint() const
{
    const QFontMetrics title(titleFont());
    const QFontMetrics caption(Theme::font(Theme::TextRole::Caption));
    const int height = kPadding * 2 + title.height() + 3 + caption.height();
    return QSize(320, qMax(height, kPadding * 2 + kIconFrame));
}

void QualityActionRow::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    QPainterPath shape;
    shape.addRoundedRect(QRectF(rect()), 11, 11);
    QColor fill = Theme::textColor(Theme::Emphasis::Quaternary);
    fill.setAlphaF(fill.alphaF() * (isDown() ? 1.0 : underMouse() ? 0.8 : 0.55));
    p.fillPath(shape, fill);

    const QRect inner = rect().adjusted(kPadding, kPadding, -kPadding, -kPadding);
    const int cy = inner.center().y();
    p.drawPixmap(inner.left(), cy - kIconFrame / 2,
                 Icons::pixmap(m_icon, m_tint, kIconFrame, devicePixelRatioF()));
    p.drawPixmap(inner.right() - kTrailing, cy - kTrailing / 2,
                 Icons::pixmap(QStringLiteral("arrow.down.circle"),
                               Theme::textColor(Theme::Emphasis::Secondary), kTrailing,
                               devicePixelRatioF()));

    const int textLeft = inner.left() + kIconFrame + 13;
    const int textWidth = inner.right() - kTrailing - 8 - textLeft;
    const QFont tf = titleFont();
    const QFont df = Theme::font(Theme::TextRole::Caption);
    const QFontMetrics tm(tf), dm(df);
    const int block = tm.height() + 3 + dm.height();
    int y = cy - block / 2;
    p.setFont(tf);
    p.setPen(Theme::textColor(Theme::Emphasis::Primary));
    p.drawText(QRect(textLeft, y, textWidth, tm.height()), Qt::AlignLeft | Qt::AlignVCenter,
               tm.elidedText(text(), Qt::ElideRight, textWidth));
    y += tm.height() + 3;
    p.setFont(df);
    p.setPen(Theme::textColor(Theme::Emphasis::Secondary));
    p.drawText(QRect(textLeft, y, textWidth, dm.height()), Qt::AlignLeft | Qt::AlignVCenter,
               dm.elidedText(m_detail, Qt::ElideRight, textWidth));

    if (hasFocus()) {
        QStyleOptionFocusRect focus;
        focus.initFrom(this);
        style()->drawPrimitive(QStyle::PE_FrameFocusRect, &focus, &p, this);
    }
}

// Return acts as on any push button, not only Space (and never reaches the sheet's default).
void QualityActionRow::keyPressEvent(QKeyEvent *event)
{
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        click();
        return;
    }
    QAbstractButton::keyPressEvent(event);
}
