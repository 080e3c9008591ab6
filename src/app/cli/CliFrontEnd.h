#pragma once

#include <iosfwd>

#include "app/cli/CliMessagePump.h"
#include "app/cli/CliOptions.h"
#include "app/cli/CliPrompter.h"

class ErrorLog;
class MessagePump;
class Prompter;

// Everything that stands in for the person at the screen, installed for as long as a command
// runs and put back afterwards: the pump that turns SIGINT and SIGTERM into Stop and the
// prompter. A run also installs its view as the error log beside the log file, and quiet mode.
// Going, it waits a little for workers left behind by Stop, so that they do not end under the
// program's feet.
class CliFrontEnd {
  public:
    explicit CliFrontEnd(std::ostream& err, ErrorLog* errorLog = nullptr, bool quiet = false);
    ~CliFrontEnd();
    CliFrontEnd(const CliFrontEnd&) = delete;
    CliFrontEnd& operator=(const CliFrontEnd&) = delete;

  private:
    CliMessagePump pump_;
    CliPrompter prompter_;
    MessagePump* previousPump_ = nullptr;
    Prompter* previousPrompter_ = nullptr;
    bool logInstalled_ = false;
    ErrorLog* previousLog_ = nullptr;
    bool quietSet_ = false;
    bool previousQuiet_ = false;
};

// Takes the command time-out and the number of retries from the settings the desktop program
// keeps, so that both front ends give a command the same chances.
void applyCommandSettings(const CliOptions& options);
