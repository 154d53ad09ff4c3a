#pragma once

#include <QWidget>

class QVBoxLayout;

// A rounded card over a translucent window background with a hairline outline; the content
// goes into layout().
class SurfaceCard : public QWidget {
    Q_OBJECT
public:
    explicit SurfaceCard(QWidget *parent = nullptr);
    QVBoxLayout *contentLayout() const { return m_layout; }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QVBoxLayout *m_layout;
};
