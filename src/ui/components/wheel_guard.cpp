#include "ui/components/wheel_guard.h"

#include <QAbstractScrollArea>
#include <QCoreApplication>
#include <QScrollBar>
#include <QWheelEvent>

namespace {

class Guard : public QObject {
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() != QEvent::Wheel || !watched->isWidgetType())
            return QObject::eventFilter(watched, event);
        // Handed straight to the page's scroll bar, as the page itself would: Qt passes a wheel
        // that a control ignores on to its parents only in some cases.
        const auto *wheel = static_cast<QWheelEvent *>(event);
        for (QWidget *w = static_cast<QWidget *>(watched)->parentWidget(); w;
             w = w->parentWidget()) {
            if (auto *page = qobject_cast<QAbstractScrollArea *>(w)) {
                QScrollBar *bar = page->verticalScrollBar();
                QWheelEvent forwarded(
                    bar->mapFromGlobal(wheel->globalPosition()), wheel->globalPosition(),
                    wheel->pixelDelta(), wheel->angleDelta(), wheel->buttons(), wheel->modifiers(),
                    wheel->phase(), wheel->inverted(), wheel->source(), wheel->pointingDevice());
                QCoreApplication::sendEvent(bar, &forwarded);
                break;
            }
        }
        return true;
    }
};

} // namespace

namespace WheelGuard {

void passWheelToPage(QWidget *control)
{
    static Guard *guard = new Guard(QCoreApplication::instance());
    control->installEventFilter(guard);
}

} // namespace WheelGuard
