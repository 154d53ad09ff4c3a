#include "ui/components/screen_header.h"

#include "ui/icons.h"
#include "ui/theme.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QVBoxLayout>

namespace {

constexpr int kTileSize = 46;
constexpr int kTileRadius = 12;
constexpr int kSymbolSize = 22;

QPixmap tilePixmap(const QString &systemImage, const QColor &tint, qreal dpr)
{
    QPixmap pm(qRound(kTileSize * dpr), qRound(kTileSize * dpr));
    pm.setDevicePixelRatio(dpr);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    QPainterPath shape;
    shape.addRoundedRect(QRectF(0, 0, kTileSize, kTileSize), kTileRadius, kTileRadius);
    p.fillPath(shape, tint);
    const QPixmap symbol = Icons::pixmap(systemImage, Theme::white(), kSymbolSize, dpr);
    const int offset = (kTileSize - kSymbolSize) / 2;
    p.drawPixmap(offset, offset, symbol);
    return pm;
}

} // namespace

ScreenHeader::ScreenHeader(const QString &title, const QString &subtitle,
                           const QString &systemImage, const QColor &tint, QWidget *parent)
    : QWidget(parent)
{
    m_tile = new QLabel(this);
    m_tile->setFixedSize(kTileSize, kTileSize);
    m_tile->setPixmap(tilePixmap(systemImage, tint, devicePixelRatioF()));

    auto *titleLabel = new QLabel(title, this);
    titleLabel->setFont(Theme::fixedFont(24, QFont::DemiBold));
    titleLabel->setAccessibleName(title);
    auto *subtitleLabel = new QLabel(subtitle, this);
    Theme::style(subtitleLabel, Theme::TextRole::Subheadline, Theme::Emphasis::Secondary);

    auto *texts = new QVBoxLayout;
    texts->setSpacing(2);
    texts->setContentsMargins(0, 0, 0, 0);
    texts->addWidget(titleLabel);
    texts->addWidget(subtitleLabel);

    auto *row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(13);
    row->addWidget(m_tile, 0, Qt::AlignVCenter);
    row->addLayout(texts);
    row->addStretch(1);
}
