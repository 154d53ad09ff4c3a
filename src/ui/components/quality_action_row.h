#pragma once

#include <QAbstractButton>
#include <QColor>

// One offer of the quality picker: the whole rounded row is one button.
class QualityActionRow : public QAbstractButton {
    Q_OBJECT
public:
    QualityActionRow(const QString &icon, const QColor &tint, const QString &title,
                     const QString &detail, QWidget *parent = nullptr);

    QString detail() const { return m_detail; }
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;

private:
    QString m_icon;
    QColor m_tint;
    QString m_detail;
};
