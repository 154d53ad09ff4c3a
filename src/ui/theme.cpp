#include "ui/theme.h"

#include <QAbstractButton>
#include <QApplication>
#include <QPushButton>
#include <QWidget>

#include <algorithm>
#include <cmath>

namespace Theme {

// Carries the scheme change to whatever follows it.
class SchemeSignal final : public QObject {
    Q_OBJECT
signals:
    void changed();
};

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

namespace {

// Each tint's light and dark form: the dark forms are lighter, so that icons, bars and texts
// keep their contrast on a dark window.
struct Tint {
    QRgb light;
    QRgb dark;
};
constexpr Tint kBlue{0xFF0A84FF, 0xFF409CFF};
constexpr Tint kRed{0xFFE01B24, 0xFFFF5A52};
constexpr Tint kGreen{0xFF2EA043, 0xFF3FC35C};
constexpr Tint kOrange{0xFFF58A07, 0xFFFFA53D};
constexpr Tint kYellow{0xFFF0B400, 0xFFFFCC33};
constexpr Tint kTints[] = {kBlue, kRed, kGreen, kOrange, kYellow};

Scheme g_scheme = Scheme::Light;

QColor form(const Tint &tint)
{
    return QColor::fromRgb(g_scheme == Scheme::Dark ? tint.dark : tint.light);
}

const Tint *tintOf(const QColor &color)
{
    for (const Tint &tint : kTints)
        if (color.rgb() == tint.light || color.rgb() == tint.dark)
            return &tint;
    return nullptr;
}

// White text and symbols sit on the deeper, light-scheme form in both schemes.
QColor fillForm(const QColor &color)
{
    const Tint *tint = tintOf(color);
    return tint ? QColor::fromRgb(tint->light) : color;
}

SchemeSignal &schemeSignal()
{
    static SchemeSignal signal;
    return signal;
}

QPalette makeDarkPalette()
{
    QPalette p;
    const QColor window(0x24, 0x24, 0x24);
    const QColor text(0xEE, 0xEE, 0xEE);
    const QColor dimmed(0x80, 0x80, 0x80);
    p.setColor(QPalette::Window, window);
    p.setColor(QPalette::WindowText, text);
    p.setColor(QPalette::Base, QColor(0x1C, 0x1C, 0x1C));
    p.setColor(QPalette::AlternateBase, QColor(0x2C, 0x2C, 0x2C));
    p.setColor(QPalette::Text, text);
    p.setColor(QPalette::PlaceholderText, dimmed);
    p.setColor(QPalette::Button, QColor(0x36, 0x36, 0x36));
    p.setColor(QPalette::ButtonText, text);
    p.setColor(QPalette::BrightText, Qt::white);
    p.setColor(QPalette::Light, QColor(0x4A, 0x4A, 0x4A));
    p.setColor(QPalette::Midlight, QColor(0x3E, 0x3E, 0x3E));
    p.setColor(QPalette::Mid, QColor(0x30, 0x30, 0x30));
    p.setColor(QPalette::Dark, QColor(0x18, 0x18, 0x18));
    p.setColor(QPalette::Shadow, QColor(0x0A, 0x0A, 0x0A));
    p.setColor(QPalette::Highlight, QColor(0x35, 0x84, 0xE4));
    p.setColor(QPalette::HighlightedText, Qt::white);
    p.setColor(QPalette::Link, QColor(0x78, 0xAE, 0xED));
    p.setColor(QPalette::LinkVisited, QColor(0xB0, 0x8C, 0xE8));
    p.setColor(QPalette::ToolTipBase, QColor(0x36, 0x36, 0x36));
    p.setColor(QPalette::ToolTipText, text);
    for (QPalette::ColorRole role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
        p.setColor(QPalette::Disabled, role, dimmed);
    p.setColor(QPalette::Disabled, QPalette::Button, QColor(0x2C, 0x2C, 0x2C));
    return p;
}

const QPalette &darkPalette()
{
    static const QPalette palette = makeDarkPalette();
    return palette;
}

// The desktop's own palette is the light form; it is kept from before the first switch.
const QPalette &lightPalette()
{
    static const QPalette palette = QApplication::palette();
    return palette;
}

QRgb textRgb(Scheme scheme)
{
    const QPalette &palette = scheme == Scheme::Dark ? darkPalette() : lightPalette();
    return palette.color(QPalette::WindowText).rgb();
}

// Gives every colour that a widget was given from this theme its form for the new scheme.
void remapWidgetPalette(QWidget *widget)
{
    QPalette p = widget->palette();
    bool changed = false;
    for (int g = 0; g < int(QPalette::NColorGroups); ++g) {
        const auto group = QPalette::ColorGroup(g);
        for (int r = 0; r < int(QPalette::NColorRoles); ++r) {
            const auto role = QPalette::ColorRole(r);
            const QColor was = p.color(group, role);
            const QColor now = current(was);
            if (now != was) {
                p.setColor(group, role, now);
                changed = true;
            }
        }
    }
    if (changed)
        widget->setPalette(p);
}

} // namespace

QColor blue()
{
    return form(kBlue);
}
QColor red()
{
    return form(kRed);
}
QColor green()
{
    return form(kGreen);
}
QColor orange()
{
    return form(kOrange);
}
QColor yellow()
{
    return form(kYellow);
}
QColor white()
{
    return QColor(Qt::white);
}

QColor windowBackground()
{
    return QApplication::palette().color(QPalette::Window);
}

QColor cardBackground()
{
    return g_scheme == Scheme::Dark ? windowBackground().lighter(125)
                                    : windowBackground().lighter(104);
}

QColor current(const QColor &color)
{
    QColor c;
    if (const Tint *known = tintOf(color))
        c = form(*known);
    else if (color.rgb() == textRgb(Scheme::Light) || color.rgb() == textRgb(Scheme::Dark))
        c = QColor::fromRgb(textRgb(g_scheme));
    else
        return color;
    c.setAlpha(color.alpha());
    return c;
}

Scheme scheme()
{
    return g_scheme;
}

void setScheme(Scheme scheme)
{
    lightPalette(); // kept before it is replaced
    if (scheme == g_scheme)
        return;
    g_scheme = scheme;
    QApplication::setPalette(scheme == Scheme::Dark ? darkPalette() : lightPalette());
    const QList<QWidget *> widgets = QApplication::allWidgets();
    for (QWidget *widget : widgets)
        if (widget->testAttribute(Qt::WA_SetPalette))
            remapWidgetPalette(widget);
    emit schemeSignal().changed();
    for (QWidget *widget : widgets)
        widget->update();
}

void onSchemeChanged(QObject *context, std::function<void()> apply)
{
    QObject::connect(&schemeSignal(), &SchemeSignal::changed, context, std::move(apply));
}

void makeProminent(QPushButton *button, const QColor &color)
{
    button->setDefault(false);
    button->setAutoDefault(false);
    button->setCursor(Qt::PointingHandCursor);
    const auto paint = [button, fill = fillForm(color)] {
        const QColor pressed = fill.darker(115);
        // Disabled: the colour faded into the window, under whichever text colour reads better
        // on it (white text on a pale tint would all but vanish).
        const QColor window = windowBackground();
        const auto fade = [](int a, int b) { return int(std::lround(a + (b - a) * 0.45)); };
        const QColor disabled(fade(window.red(), fill.red()), fade(window.green(), fill.green()),
                              fade(window.blue(), fill.blue()));
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
                .arg(fill.name(), pressed.name(), disabled.name(), disabledText.name()));
    };
    paint();
    // The focus border, the disabled fade and its text follow the new palette.
    onSchemeChanged(button, paint);
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

#include "theme.moc"
