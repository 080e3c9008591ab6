#include "app/cli/CliMessagePump.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>
#include <cerrno>

#include "common/ErrorReport.h"

namespace {

// What the handler may touch: lock-free flags and a file descriptor.
volatile std::sig_atomic_t signalCount = 0;
volatile std::sig_atomic_t lastSignal = 0;
volatile std::sig_atomic_t wakeFd = -1;

void onSignal(int signal) {
    const int savedErrno = errno;
    lastSignal = signal;
    signalCount = signalCount + 1;
    const int fd = wakeFd;
    if (fd >= 0) {
        const char byte = 's';
        [[maybe_unused]] const ssize_t written = ::write(fd, &byte, 1);
    }
    errno = savedErrno;
}

}  // namespace

CliMessagePump::CliMessagePump() {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) == 0) {
        readFd_ = fds[0];
        writeFd_ = fds[1];
    }
    wakeFd = writeFd_;
    signalsSeen_ = signalCount;

    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    // Workers sit in socket calls; restarting them keeps a signal from turning into a spurious
    // network failure. The run ends through stopRequested instead.
    action.sa_flags = SA_RESTART;
    ::sigaction(SIGINT, &action, &oldInt_);
    ::sigaction(SIGTERM, &action, &oldTerm_);
}

CliMessagePump::~CliMessagePump() {
    ::sigaction(SIGINT, &oldInt_, nullptr);
    ::sigaction(SIGTERM, &oldTerm_, nullptr);
    wakeFd = -1;
    if (readFd_ >= 0) {
        ::close(readFd_);
    }
    if (writeFd_ >= 0) {
        ::close(writeFd_);
    }
}

void CliMessagePump::pumpOnce() {
    const int count = signalCount;
    if (count != signalsSeen_) {
        signalsSeen_ = count;
        requestStop();
    }
}

void CliMessagePump::idleWait(int ms) {
    if (readFd_ < 0) {
        // No pipe: nothing can cut the wait short, so keep it short.
        ::usleep(static_cast<useconds_t>(ms > 0 ? 1000 : 0));
        return;
    }
    pollfd entry{readFd_, POLLIN, 0};
    if (::poll(&entry, 1, ms > 0 ? ms : 0) > 0) {
        drainPipe();
    }
}

void CliMessagePump::wake() {
    if (writeFd_ >= 0) {
        const char byte = 'w';
        // A full pipe already holds a wake-up, so a failed write loses nothing.
        [[maybe_unused]] const ssize_t written = ::write(writeFd_, &byte, 1);
    }
}

int CliMessagePump::receivedSignal() {
    return lastSignal;
}

void CliMessagePump::drainPipe() {
    char buffer[64];
    while (::read(readFd_, buffer, sizeof buffer) > 0) {
    }
}
