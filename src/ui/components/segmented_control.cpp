#include "ui/components/segmented_control.h"

#include "ui/theme.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QButtonGroup>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QPainter>
#include <QPainterPath>
#include <QRadioButton>
#include <QStyle>
#include <QStyleOptionFocusRect>

namespace {

constexpr qreal kRadius = 8;
constexpr int kInset = 2;

// The control is announced as the group it is: a plain widget would read as a bare "panel".
QAccessibleInterface *groupInterface(const QString &className, QObject *object)
{
    if (className == QLatin1String("SegmentedControl") && object && object->isWidgetType())
        return new QAccessibleWidget(static_cast<QWidget *>(object), QAccessible::Grouping);
    return nullptr;
}

} // namespace

// One segment: a real radio button (its role, checked state and actions come from Qt), drawn
// as a part of the row.
class Segment : public QRadioButton {
public:
    Segment(const QString &text, int index, SegmentedControl *control)
        : QRadioButton(text, control), m_index(index), m_control(control)
    {
        setCursor(Qt::PointingHandCursor);
        setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    }

    QSize sizeHint() const override
    {
        const QFontMetrics fm(font());
        return QSize(fm.horizontalAdvance(text()) + 28, fm.height() + 14);
    }
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    bool hitButton(const QPoint &pos) const override { return rect().contains(pos); }

    void keyPressEvent(QKeyEvent *event) override
    {
        const bool rtl = layoutDirection() == Qt::RightToLeft;
        switch (event->key()) {
        case Qt::Key_Left:
            m_control->step(m_index, rtl ? 1 : -1);
            return;
        case Qt::Key_Right:
            m_control->step(m_index, rtl ? -1 : 1);
            return;
        case Qt::Key_Up:
            m_control->step(m_index, -1);
            return;
        case Qt::Key_Down:
            m_control->step(m_index, 1);
            return;
        default:
            QRadioButton::keyPressEvent(event);
        }
    }

    void paintEvent(QPaintEvent *) override
    {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        const QRectF pill = QRectF(rect()).adjusted(kInset, kInset, -kInset, -kInset);
        QColor ink = Theme::textColor(Theme::Emphasis::Primary);
        if (isChecked()) {
            QPainterPath shape;
            shape.addRoundedRect(pill, kRadius - kInset, kRadius - kInset);
            p.fillPath(shape, m_control->m_tint);
            ink = Theme::white();
        } else if (underMouse() || isDown()) {
            QPainterPath shape;
            shape.addRoundedRect(pill, kRadius - kInset, kRadius - kInset);
            p.fillPath(shape, Theme::textColor(Theme::Emphasis::Quaternary));
        }
        p.setPen(ink);
        p.setFont(font());
        p.drawText(rect(), Qt::AlignCenter,
                   fontMetrics().elidedText(text(), Qt::ElideRight, width() - 8));
        if (hasFocus()) {
            QStyleOptionFocusRect focus;
            focus.initFrom(this);
            focus.rect = rect().adjusted(1, 1, -1, -1);
            style()->drawPrimitive(QStyle::PE_FrameFocusRect, &focus, &p, this);
        }
    }

private:
    int m_index;
    SegmentedControl *m_control;
};

SegmentedControl::SegmentedControl(const QString &label, const QStringList &segments,
                                   const QColor &tint, QWidget *parent)
    : QWidget(parent), m_tint(tint), m_group(new QButtonGroup(this))
{
    static const bool factoryInstalled = [] {
        QAccessible::installFactory(groupInterface);
        return true;
    }();
    Q_UNUSED(factoryInstalled);
    setAccessibleName(label);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);

    auto *row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(0);
    for (const QString &text : segments) {
        auto *segment = new Segment(text, int(m_segments.size()), this);
        m_group->addButton(segment, int(m_segments.size()));
        m_segments.append(segment);
        row->addWidget(segment, 1);
    }
    connect(m_group, &QButtonGroup::idToggled, this, [this](int id, bool checked) {
        if (!checked)
            return;
        // Tab stops at the selected segment only; the arrows reach the others.
        for (QRadioButton *segment : std::as_const(m_segments))
            segment->setFocusPolicy(segment->isChecked() ? Qt::StrongFocus : Qt::ClickFocus);
        update();
        emit currentChanged(id);
    });
    setCurrent(0);
}

int SegmentedControl::current() const
{
    return m_group->checkedId();
}

void SegmentedControl::setCurrent(int index)
{
    if (QRadioButton *segment = m_segments.value(index))
        segment->setChecked(true);
}

QAbstractButton *SegmentedControl::segment(int index) const
{
    return m_segments.value(index);
}

QSize SegmentedControl::sizeHint() const
{
    QSize size(0, 0);
    for (const QRadioButton *segment : m_segments)
        size = QSize(size.width() + segment->sizeHint().width(),
                     qMax(size.height(), segment->sizeHint().height()));
    return size;
}

void SegmentedControl::step(int from, int by)
{
    const int count = int(m_segments.size());
    QRadioButton *next = m_segments.value(((from + by) % count + count) % count);
    next->setFocus(Qt::TabFocusReason);
    next->click();
}

void SegmentedControl::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    QPainterPath track;
    track.addRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), kRadius, kRadius);
    QColor fill = Theme::textColor(Theme::Emphasis::Quaternary);
    fill.setAlphaF(fill.alphaF() * 0.55);
    p.fillPath(track, fill);
    p.setPen(QPen(Theme::textColor(Theme::Emphasis::Quaternary), 1));
    p.drawPath(track);
    // Hairlines join two segments that are both unselected.
    const int checked = current();
    for (int i = 1; i < m_segments.size(); ++i) {
        if (i == checked || i - 1 == checked)
            continue;
        const int x = m_segments.at(i)->geometry().left();
        p.drawLine(QPointF(x, height() * 0.25), QPointF(x, height() * 0.75));
    }
}
