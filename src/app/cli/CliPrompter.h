#pragma once

#include <ostream>

#include "common/Prompter.h"

// The command-line program's stand-in for the person at the screen: messages go to the error
// stream, nobody answers questions. A question gets the answer that changes nothing; a delete
// confirmation counts as Yes, since a run from the command line is a run the user has already
// approved (silent behaviour).
class CliPrompter final : public Prompter {
  public:
    explicit CliPrompter(std::ostream& err) : err_(err) {}

    void messageBox(const std::string& text) override;
    bool askYesNo(const std::string& text) override;
    ConfirmAnswer confirmDelete(const std::string& caption, const std::string& line1,
                                const std::string& line2, const std::string& line3,
                                const std::string& line4) override;

  private:
    std::ostream& err_;
};
