#include "ui/components/disclosure_header.h"

#include "ui/icons.h"
#include "ui/theme.h"

#include <QKeyEvent>
#include <QPainter>
#include <QStyle>
#include <QStyleOption>

namespace {

constexpr int kArrow = 12;
constexpr int kIcon = 18;
constexpr int kGap = 8;

} // namespace

DisclosureHeader::DisclosureHeader(const QString &title, const QString &systemImage,
                                   QWidget *parent)
    : QAbstractButton(parent), m_systemImage(systemImage)
{
    setText(title);
    setCheckable(true);
    setFont(Theme::font(Theme::TextRole::Headline));
    setCursor(Qt::PointingHandCursor);
    setFocusPolicy(Qt::StrongFocus);
    setAccessibleName(title);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

void DisclosureHeader::setTrailingText(const QString &text)
{
    if (m_trailing == text)
        return;
    m_trailing = text;
    // The count is drawn apart from the title; a screen reader hears both (the history's size).
    setAccessibleName(text.isEmpty() ? this->text() : this->text() + QStringLiteral(", ") + text);
    update();
}

QSize DisclosureHeader::sizeHint() const
{
    const QFontMetrics fm(font());
    const int width = kArrow + kGap + kIcon + kGap + fm.horizontalAdvance(text()) + 40;
    return QSize(width, qMax(fm.height(), kIcon) + 6);
}

void DisclosureHeader::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const QRect r = rect();
    const int cy = r.center().y();

    QStyleOption arrow;
    arrow.initFrom(this);
    arrow.rect = QRect(0, cy - kArrow / 2, kArrow, kArrow);
    style()->drawPrimitive(isChecked() ? QStyle::PE_IndicatorArrowDown
                                       : QStyle::PE_IndicatorArrowRight,
                           &arrow, &p, this);

    int x = kArrow + kGap;
    p.drawPixmap(x, cy - kIcon / 2,
                 Icons::pixmap(m_systemImage, Theme::blue(), kIcon, devicePixelRatioF()));
    x += kIcon + kGap;

    p.setPen(Theme::textColor(Theme::Emphasis::Primary));
    p.setFont(font());
    p.drawText(QRect(x, r.top(), r.width() - x, r.height()), Qt::AlignVCenter | Qt::AlignLeft,
               text());

    if (!m_trailing.isEmpty()) {
        p.setFont(Theme::withTabularDigits(Theme::font(Theme::TextRole::Caption)));
        p.setPen(Theme::textColor(Theme::Emphasis::Secondary));
        p.drawText(r.adjusted(0, 0, -2, 0), Qt::AlignVCenter | Qt::AlignRight, m_trailing);
    }
    if (hasFocus()) {
        QStyleOptionFocusRect focus;
        focus.initFrom(this);
        style()->drawPrimitive(QStyle::PE_FrameFocusRect, &focus, &p, this);
    }
}

// Return acts as on any push button, not only Space (and never reaches the sheet's default).
void DisclosureHeader::keyPressEvent(QKeyEvent *event)
{
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        click();
        return;
    }
    QAbstractButton::keyPressEvent(event);
}
