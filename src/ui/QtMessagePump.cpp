#include "ui/QtMessagePump.h"

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QEventLoop>

QtMessagePump::QtMessagePump() : dispatcher_(QAbstractEventDispatcher::instance()) {
    limit_.setSingleShot(true);
    limit_.setTimerType(Qt::PreciseTimer);
}

void QtMessagePump::pumpOnce() {
    QCoreApplication::processEvents(QEventLoop::AllEvents);
}

void QtMessagePump::idleWait(int ms) {
    if (wakePending_.exchange(false) || ms <= 0) {
        return;
    }
    // The timer is only there to end the wait: processEvents returns after the first batch of
    // events, and its timeout is one of them.
    limit_.start(ms);
    QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    limit_.stop();
    // A wake that ended this wait stays pending and ends the next one early too; that costs one
    // extra turn, where clearing it here could swallow a wake that came just after.
}

void QtMessagePump::wake() {
    wakePending_.store(true);
    if (dispatcher_ != nullptr) {
        dispatcher_->wakeUp();
    }
}
