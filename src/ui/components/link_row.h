#pragma once

#include <QWidget>

class QHBoxLayout;
class QLineEdit;

// The link entry of a screen: a link icon and a borderless field on a soft rounded
// background; screens append their own buttons with addTrailing().
class LinkRow : public QWidget {
    Q_OBJECT
public:
    explicit LinkRow(const QString &placeholder, QWidget *parent = nullptr);

    QLineEdit *field() const { return m_field; }
    void addTrailing(QWidget *widget);

protected:
    void paintEvent(QPaintEvent *event) override;
    void changeEvent(QEvent *event) override;

private:
    void keepLinkLegible();

    QLineEdit *m_field;
    QHBoxLayout *m_row;
};
