#include "ui/icons.h"

#include "ui/theme.h"

#include <QApplication>
#include <QFile>
#include <QHash>
#include <QIconEngine>
#include <QLabel>
#include <QPainter>
#include <QSvgRenderer>

// The icons are compiled into this static library; its resources have to be registered by
// hand before the first look-up.
static void registerIconResources()
{
    static const bool registered = [] {
        Q_INIT_RESOURCE(icons);
        return true;
    }();
    Q_UNUSED(registered);
}

namespace Icons {

namespace {

QString resourcePath(const QString &name)
{
    registerIconResources();
    return QStringLiteral(":/icons/%1.svg").arg(name);
}

// What a drawn icon was asked for; the colour as given (a tint in either form, or none for the
// text colour), so that the icon can be drawn again for another scheme.
struct Request {
    QString name;
    QColor color;
    int size = 0;
    qreal devicePixelRatio = 1.0;
};

QString cacheKey(const QString &name, const QColor &resolved, int size, qreal dpr)
{
    return QStringLiteral("%1|%2|%3|%4").arg(name).arg(resolved.rgba()).arg(size).arg(dpr);
}

// Each icon is drawn once per colour, size and scale; labels showing one of them are found
// again through the pixmap's key when the scheme changes.
struct Drawn {
    QHash<QString, QPixmap> pixmaps;
    QHash<qint64, Request> requests;
};

Drawn &drawn()
{
    static Drawn cache;
    return cache;
}

QColor resolve(const QColor &color)
{
    return color.isValid() ? Theme::current(color) : Theme::textColor(Theme::Emphasis::Primary);
}

QPixmap render(const QString &name, const QColor &color, int size, qreal devicePixelRatio)
{
    const int device = qMax(1, qRound(size * devicePixelRatio));
    QPixmap pm(device, device);
    pm.fill(Qt::transparent);
    QSvgRenderer renderer(resourcePath(name));
    if (!renderer.isValid())
        return pm;
    QPainter painter(&pm);
    painter.setRenderHint(QPainter::Antialiasing);
    renderer.render(&painter, QRectF(0, 0, device, device));
    // Symbolic icons are one shape: recolour every painted pixel, keeping its coverage.
    painter.setCompositionMode(QPainter::CompositionMode_SourceIn);
    painter.fillRect(pm.rect(), color);
    painter.end();
    pm.setDevicePixelRatio(devicePixelRatio);
    return pm;
}

// Labels keep a copy of the pixmap they were given: after a scheme change each label showing
// an icon gets the icon drawn again in the new form of its colour.
void redrawLabels()
{
    for (QWidget *widget : QApplication::allWidgets()) {
        auto *label = qobject_cast<QLabel *>(widget);
        if (!label)
            continue;
        const auto found = drawn().requests.constFind(label->pixmap().cacheKey());
        if (found == drawn().requests.constEnd())
            continue;
        const Request asked = *found; // drawing again adds to the table
        label->setPixmap(pixmap(asked.name, asked.color, asked.size, asked.devicePixelRatio));
    }
}

// An icon drawn at paint time, so that menus, tabs and buttons follow the scheme by themselves.
class SymbolEngine final : public QIconEngine {
public:
    SymbolEngine(QString name, QColor color) : m_name(std::move(name)), m_color(std::move(color)) {}
    QIconEngine *clone() const override { return new SymbolEngine(m_name, m_color); }
    void paint(QPainter *painter, const QRect &rect, QIcon::Mode mode, QIcon::State state) override
    {
        const qreal dpr = painter->device() ? painter->device()->devicePixelRatioF() : 1.0;
        const int side = qMin(rect.width(), rect.height());
        const QRect square(rect.x() + (rect.width() - side) / 2,
                           rect.y() + (rect.height() - side) / 2, side, side);
        painter->drawPixmap(square, scaledPixmap(QSize(side, side), mode, state, dpr));
    }
    QPixmap pixmap(const QSize &size, QIcon::Mode mode, QIcon::State state) override
    {
        return scaledPixmap(size, mode, state, 1.0);
    }
    QPixmap scaledPixmap(const QSize &size, QIcon::Mode mode, QIcon::State, qreal scale) override
    {
        QColor color = resolve(m_color);
        if (mode == QIcon::Disabled)
            color.setAlphaF(color.alphaF() * 0.4);
        const int side = qMin(size.width(), size.height());
        return Icons::pixmap(m_name, color, qMax(1, qRound(side / scale)), scale);
    }
    QSize actualSize(const QSize &size, QIcon::Mode, QIcon::State) override { return size; }
    QString key() const override { return QStringLiteral("tovrin-symbol"); }

private:
    QString m_name;
    QColor m_color;
};

} // namespace

bool exists(const QString &name)
{
    return QFile::exists(resourcePath(name));
}

QPixmap pixmap(const QString &name, const QColor &color, int size, qreal devicePixelRatio)
{
    static const bool following = [] {
        Theme::onSchemeChanged(qApp, redrawLabels);
        return true;
    }();
    Q_UNUSED(following);
    const QColor resolved = resolve(color);
    const QString key = cacheKey(name, resolved, size, devicePixelRatio);
    auto found = drawn().pixmaps.constFind(key);
    if (found == drawn().pixmaps.constEnd()) {
        found = drawn().pixmaps.insert(key, render(name, resolved, size, devicePixelRatio));
        drawn().requests.insert(found->cacheKey(), Request{name, color, size, devicePixelRatio});
    }
    return *found;
}

QIcon appIcon()
{
    QIcon result;
    QSvgRenderer renderer(resourcePath(QStringLiteral("AppIcon")));
    for (int size : {16, 24, 32, 48, 64, 128, 256}) {
        QPixmap pm(size, size);
        pm.fill(Qt::transparent);
        QPainter painter(&pm);
        painter.setRenderHint(QPainter::Antialiasing);
        renderer.render(&painter, QRectF(0, 0, size, size));
        painter.end();
        result.addPixmap(pm);
    }
    return result;
}

QIcon icon(const QString &name, const QColor &color)
{
    return QIcon(new SymbolEngine(name, color));
}

} // namespace Icons
