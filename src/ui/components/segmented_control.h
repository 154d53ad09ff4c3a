#pragma once

#include <QColor>
#include <QList>
#include <QWidget>

class QAbstractButton;
class QButtonGroup;
class QRadioButton;

// A row of joined segments with the selected one filled: a choice among a few views. Screen
// readers meet one group, named by `label`, whose segments are radio buttons; Tab enters the
// group on the selected segment and the arrow keys move the selection, as in a radio group.
class SegmentedControl : public QWidget {
    Q_OBJECT
public:
    SegmentedControl(const QString &label, const QStringList &segments, const QColor &tint,
                     QWidget *parent = nullptr);

    int current() const;
    void setCurrent(int index);
    QAbstractButton *segment(int index) const;

    QSize sizeHint() const override;

signals:
    // Every way of choosing a segment: a click, a key, a screen reader's action, setCurrent().
    void currentChanged(int index);

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    friend class Segment;
    void step(int from, int by);

    QColor m_tint;
    QButtonGroup *m_group;
    QList<QRadioButton *> m_segments;
};
