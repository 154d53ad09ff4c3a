#pragma once

#include <QAbstractButton>

// The header of a disclosure group: an arrow, an icon, the title and an optional trailing
// text; the whole row toggles the group.
class DisclosureHeader : public QAbstractButton {
    Q_OBJECT
public:
    DisclosureHeader(const QString &title, const QString &systemImage, QWidget *parent = nullptr);

    void setTrailingText(const QString &text);
    QString trailingText() const { return m_trailing; }

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;

private:
    QString m_systemImage;
    QString m_trailing;
};
