#include "ui/mainwindow/QtSynchroniserView.h"

#include <QMetaObject>
#include <QString>
#include <QThread>

#include "ui/mainwindow/CSynchroniserDlg.h"
#include "ui/mainwindow/WindowDialogs.h"

namespace {

QString qs(const std::string& text) {
    return QString::fromStdString(text);
}

template <typename Show>
void onWindowThread(CSynchroniserDlg& window, Show show) {
    if (QThread::currentThread() == window.thread()) {
        show();
    } else {
        QMetaObject::invokeMethod(&window, std::move(show), Qt::QueuedConnection);
    }
}

}  // namespace

void QtSynchroniserView::setStatus(const std::string& text) {
    onWindowThread(window_, [&window = window_, text = qs(text)] { window.showStatus(text); });
}

void QtSynchroniserView::setPhase(const std::string& label) {
    onWindowThread(window_, [&window = window_, label = qs(label)] { window.showPhase(label); });
}

void QtSynchroniserView::setProgress(int thousandths, const std::string& percent,
                                     const std::string& timeRemaining) {
    QMetaObject::invokeMethod(
        &window_,
        [&window = window_, thousandths, percent = qs(percent), remaining = qs(timeRemaining)] {
            window.showProgress(thousandths, percent, remaining);
        },
        Qt::QueuedConnection);
}

void QtSynchroniserView::setRetries(const std::string& label, const std::string& count) {
    QMetaObject::invokeMethod(
        &window_,
        [&window = window_, label = qs(label), count = qs(count)] {
            window.showRetries(label, count);
        },
        Qt::QueuedConnection);
}

bool QtSynchroniserView::reviewPlan(PlanForReview& plan) {
    return window_.dialogs().reviewPlan(&window_, plan);
}

void QtSynchroniserView::showReport(const ReportData& report) {
    window_.dialogs().report(&window_, report);
}

bool QtSynchroniserView::connectWithDialog(const std::shared_ptr<ConnectionDetails>& connection) {
    return window_.dialogs().connecting(&window_, connection);
}

void QtSynchroniserView::refreshControls() {
    window_.refreshControls();
}

void QtSynchroniserView::closeProgram() {
    window_.closeProgram();
}
