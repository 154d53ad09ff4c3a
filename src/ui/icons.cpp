#include "ui/icons.h"

#include "ui/theme.h"

#include <QFile>
#include <QPainter>
#include <QPixmapCache>
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

} // namespace

bool exists(const QString &name)
{
    return QFile::exists(resourcePath(name));
}

QPixmap pixmap(const QString &name, const QColor &color, int size, qreal devicePixelRatio)
{
    // Rows repaint on every progress tick: each icon is drawn once per colour and size.
    const QColor ink = color.isValid() ? color : Theme::textColor(Theme::Emphasis::Primary);
    const QString key = QStringLiteral("tovrin-icon:%1:%2:%3:%4")
                            .arg(name, ink.name(QColor::HexArgb))
                            .arg(size)
                            .arg(devicePixelRatio);
    QPixmap cached;
    if (QPixmapCache::find(key, &cached))
        return cached;
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
    painter.fillRect(pm.rect(), ink);
    painter.end();
    pm.setDevicePixelRatio(devicePixelRatio);
    QPixmapCache::insert(key, pm);
    return pm;
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
    QIcon result;
    for (int size : {16, 18, 22, 24, 32, 48})
        result.addPixmap(pixmap(name, color, size));
    for (int size : {16, 22, 24})
        result.addPixmap(pixmap(name, color, size, 2.0));
    return result;
}

} // namespace Icons
