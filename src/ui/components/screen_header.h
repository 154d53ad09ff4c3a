#pragma once

#include <QColor>
#include <QWidget>

class QLabel;

// The screen's title row: a tinted icon tile, the title and a subtitle.
class ScreenHeader : public QWidget {
    Q_OBJECT
public:
    ScreenHeader(const QString &title, const QString &subtitle, const QString &systemImage,
                 const QColor &tint, QWidget *parent = nullptr);

private:
    QLabel *m_tile;
};
