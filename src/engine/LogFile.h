#pragma once

#include <fstream>
#include <string>

#include "common/ErrorReport.h"
#include "engine/ActionLists.h"

class Profile;

// The one log file of a run. Process-wide: while it is open it is the ErrorLog of reportError, so
// the error lines of a run fall under its "Errors" heading. A log that was installed before (the
// command line's error stream) keeps getting every line and is put back on close. Log files use
// the platform's line end. Every write does nothing while it is not open; write errors are ignored,
// and a stream that has gone bad counts as not open. Used from the user-interface thread only.
class LogFile : public ErrorLog {
  public:
    static LogFile& instance();

    // Closes any open stream, opens `path` (appending or replacing) and writes the start block.
    // On failure lastErrorText holds the system's reason.
    bool open(const std::string& path, bool append);
    bool isOpen() const override;
    void close();
    void writeLine(const std::string& line) override;  // the text and "\n"

    void write(const std::string& text);
    void write(char c);
    void write(long long number);
    void writeFlag(bool on);  // "on" or "off"
    void writeHeading(const std::string& text);
    void writeBoxedTitle(const std::string& title);
    void writeOptions(const Profile& profile);
    void writeProblemLines(const ProblemList& problems);
    void writeEntryLines(const EntrySet& entries);

    // The header of a run after the start block: profile, source, destination, options and the
    // "Errors" heading.
    void writeRunHeader(const std::string& profilePath, const std::string& source,
                        const std::string& destination, const Profile& profile);
    // The results block, written when the report is shown.
    void writeResults(const ActionLists& lists, const ProblemList& problems);

  private:
    void handBackErrorLog();
    void noteWriteFailure();

    std::ofstream stream_;
    ErrorLog* replacedLog_ = nullptr;
};

// The date and time texts of the log, in local time: "Tue 09 March 2004" and "14:05:09".
std::string logDate();
std::string logTime();

// The heading of the last report shown ("Last Report" shows it again).
extern std::string lastReportHeading;
