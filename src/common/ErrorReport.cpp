#include "common/ErrorReport.h"

#include <cerrno>
#include <cstring>
#include <mutex>
#include <system_error>

#include "common/MessagePump.h"
#include "common/Prompter.h"

std::atomic<bool> stopRequested{false};
std::atomic<bool> quietMode{false};

namespace {

struct LastError {
    std::mutex mutex;
    std::string text;
};

// Never destroyed: a worker abandoned after a time-out may still record its failure while the
// program exits, after the destructors of ordinary statics have run.
LastError& lastError() {
    static LastError& instance = *new LastError;
    return instance;
}

thread_local const std::atomic<bool>* boundAbandonMarker = nullptr;

std::atomic<ErrorLog*> installedLog{nullptr};

constexpr const char* kReasonNotKnown = "Reason not known";

bool hasSystemMessage(int code) {
    if (code == 0) {
        // errno 0 means nothing went wrong as far as the system knows, so its text ("Success")
        // would be no reason at all.
        return false;
    }
#if defined(__GLIBC__) && (__GLIBC__ > 2 || (__GLIBC__ == 2 && __GLIBC_MINOR__ >= 32))
    return ::strerrordesc_np(code) != nullptr;
#else
    return std::system_category().message(code).rfind("Unknown error", 0) != 0;
#endif
}

void storeLastError(std::string text) {
    LastError& last = lastError();
    std::lock_guard lock(last.mutex);
    // Checked under the lock: the wait sets the marker before it stores "Timed out", so a late
    // failure of the abandoned worker either comes first and is overwritten, or is dropped.
    if (boundAbandonMarker != nullptr && boundAbandonMarker->load()) {
        return;
    }
    last.text = std::move(text);
}

}  // namespace

void requestStop() {
    stopRequested.store(true);
    wakeMessagePump();
}

std::string lastErrorText() {
    LastError& last = lastError();
    std::lock_guard lock(last.mutex);
    return last.text;
}

void setLastError(const std::string& text) {
    if (text.empty()) {
        setLastErrorFromCode(errno);
        return;
    }
    storeLastError(text);
}

void setLastErrorFromCode(int code) {
    if (!hasSystemMessage(code)) {
        storeLastError(kReasonNotKnown);
        return;
    }
    std::string text = std::system_category().message(code);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) {
        text.pop_back();
    }
    storeLastError(text.empty() ? std::string(kReasonNotKnown) : std::move(text));
}

void bindLastErrorToCommand(const std::atomic<bool>* abandoned) {
    boundAbandonMarker = abandoned;
}

ErrorLog* setErrorLog(ErrorLog* log) {
    return installedLog.exchange(log);
}

void reportError(const std::string& context, const std::string& message, bool appendLastError) {
    const std::string text = appendLastError ? message + "\n" + lastErrorText() : message;
    if (!quietMode.load()) {
        prompter().messageBox(text);
    }
    ErrorLog* log = installedLog.load();
    if (log != nullptr && log->isOpen()) {
        log->writeLine(context + ": " + text);
    }
}
