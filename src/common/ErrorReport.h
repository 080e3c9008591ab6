#pragma once

#include <atomic>
#include <string>

// The Stop flag: set by every Stop button (and by SIGINT/SIGTERM in the command-line program);
// cleared by whoever starts a long activity.
extern std::atomic<bool> stopRequested;

// Sets stopRequested and wakes the message pump, so that a wait in progress ends at once instead
// of at its next turn. Not async-signal-safe: a signal handler only notes the signal and lets its
// pump call this (see CliMessagePump).
void requestStop();

// Suppresses the message boxes of reportError while no one is at the screen.
extern std::atomic<bool> quietMode;

// The text of the last failure. Guarded internally, since workers set it.
std::string lastErrorText();

// Stores `text` as the last failure; an empty text takes the system's message for errno
// ("Reason not known" when there is none).
void setLastError(const std::string& text);
// As above with an explicit system error code.
void setLastErrorFromCode(int code);

// Ties the failures of the calling thread to a command's abandon marker (null unties). Once the
// marker is set, setLastError on this thread no longer changes lastErrorText: a worker that was
// abandoned after a time-out must not overwrite "Timed out", nor the text of a newer command.
// The marker must outlive the binding; the worker frame binds and unbinds it.
void bindLastErrorToCommand(const std::atomic<bool>* abandoned);

// Where reportError writes its log line while a log file is open.
class ErrorLog {
  public:
    virtual ~ErrorLog() = default;
    virtual bool isOpen() const = 0;
    // Writes one line; the log adds the line end.
    virtual void writeLine(const std::string& line) = 0;
};
// Installs the log (null: none) and returns the previous one.
ErrorLog* setErrorLog(ErrorLog* log);

// The program-wide report of a failure: a message box unless quietMode is on, and the line
// "context: text" in the log file while one is open. With appendLastError the text is
// message + "\n" + lastErrorText().
void reportError(const std::string& context, const std::string& message, bool appendLastError);
