#include "ui/theme.h"

#include <QAbstractButton>
#include <QApplication>
#include <QPushButton>
#include <QWidget>

#include <algorithm>
#include <cmath>

namespace Theme {

namespace {

// The roles follow the desktop's base font: headline and subheadline sit at the body size.
int basePixelSize()
{
    const QFont f = QApplication::font();
    if (f.pixelSize() > 0)
        return f.pixelSize();
    return qMax(12, qRound(f.pointSizeF() * 4.0 / 3.0));
}

// Relative luminance and contrast ratio as the web's accessibility guidelines define them.
double luminance(const QColor &c)
{
    const auto channel = [](double v) {
        return v <= 0.03928 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * channel(c.redF()) + 0.7152 * channel(c.greenF()) + 0.0722 * channel(c.blueF());
}

double contrast(const QColor &a, const QColor &b)
{
    const double la = luminance(a), lb = luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

} // namespace

QFont font(TextRole role)
{
    QFont f = QApplication::font();
    const int base = basePixelSize();
    switch (role) {
    case TextRole::Title2:
        f.setPixelSize(base + 8);
        break;
    case TextRole::Title3:
        f.setPixelSize(base + 5);
        break;
    case TextRole::Headline:
        f.setPixelSize(base + 1);
        f.setWeight(QFont::DemiBold);
        break;
    case TextRole::Subheadline:
        f.setPixelSize(base);
        break;
    case TextRole::Caption:
        f.setPixelSize(qMax(10, base - 1));
        break;
    case TextRole::Caption2:
        f.setPixelSize(qMax(9, base - 2));
        break;
    }
    return f;
}

QFont fixedFont(int pixelSize, QFont::Weight weight)
{
    QFont f = QApplication::font();
    f.setPixelSize(pixelSize);
    f.setWeight(weight);
    return f;
}

// Qt 6.4 cannot switch OpenType features; the desktop's sans fonts (DejaVu, Cantarell, Noto)
// already draw digits of equal width, so keeping them from falling back is enough.
QFont withTabularDigits(QFont f)
{
    f.setStyleStrategy(QFont::StyleStrategy(f.styleStrategy() | QFont::NoFontMerging));
    return f;
}

QColor textColor(Emphasis emphasis)
{
    QColor c = QApplication::palette().color(QPalette::WindowText);
    switch (emphasis) {
    case Emphasis::Primary:
        break;
    case Emphasis::Secondary:
        c.setAlphaF(0.62);
        break;
    case Emphasis::Tertiary:
        c.setAlphaF(0.42);
        break;
    case Emphasis::Quaternary:
        c.setAlphaF(0.18);
        break;
    }
    return c;
}

QColor blue()
{
    return QColor(0x0A, 0x84, 0xFF);
}
QColor red()
{
    return QColor(0xE0, 0x1B, 0x24);
}
QColor green()
{
    return QColor(0x2E, 0xA0, 0x43);
}
QColor orange()
{
    return QColor(0xF5, 0x8A, 0x07);
}
QColor yellow()
{
    return QColor(0xF0, 0xB4, 0x00);
}
QColor white()
{
    return QColor(Qt::white);
}

QColor windowBackground()
{
    return QApplication::palette().color(QPalette::Window);
}

void makeProminent(QPushButton *button, const QColor &color)
{
    button->setDefault(false);
    button->setAutoDefault(false);
    button->setCursor(Qt::PointingHandCursor);
    const QColor pressed = color.darker(115);
    // Disabled: the colour faded into the window, under whichever text colour reads better on
    // it (white text on a pale tint would all but vanish).
    const QColor window = windowBackground();
    const auto fade = [&](int a, int b) { return int(std::lround(a + (b - a) * 0.45)); };
    const QColor disabled(fade(window.red(), color.red()), fade(window.green(), color.green()),
                          fade(window.blue(), color.blue()));
    QColor disabledText = textColor(Emphasis::Primary);
    disabledText.setAlpha(255);
    if (contrast(white(), disabled) > contrast(disabledText, disabled))
        disabledText = white();
    button->setStyleSheet(
        QStringLiteral(
            "QPushButton { background: %1; color: white; border: none; border-radius: 7px;"
            " padding: 6px 14px; font-weight: 600; }"
            "QPushButton:pressed { background: %2; }"
            "QPushButton:disabled { background: %3; color: %4; }"
            "QPushButton:focus { outline: none; border: 2px solid palette(highlight); }")
            .arg(color.name(), pressed.name(), disabled.name(), disabledText.name()));
}

void makeDestructive(QAbstractButton *button)
{
    QPalette p = button->palette();
    p.setColor(QPalette::ButtonText, red());
    button->setPalette(p);
}

void style(QWidget *widget, TextRole role, Emphasis emphasis)
{
    widget->setFont(font(role));
    QPalette p = widget->palette();
    p.setColor(QPalette::WindowText, textColor(emphasis));
    p.setColor(QPalette::Text, textColor(emphasis));
    widget->setPalette(p);
}

} // namespace Theme
