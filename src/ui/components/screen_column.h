#pragma once

#include <QScrollArea>

class QVBoxLayout;

// The scrolling page of a screen: a column at most 760 wide, centred, padded by 26, whose
// sections are stacked 16 apart over the window background.
class ScreenColumn : public QScrollArea {
    Q_OBJECT
public:
    explicit ScreenColumn(QWidget *parent = nullptr);
    QVBoxLayout *column() const { return m_column; }

private:
    QVBoxLayout *m_column;
};
