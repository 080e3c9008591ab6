#pragma once

#include "common/Prompter.h"

// Message boxes and the delete confirmation of the desktop program, over whichever window is
// active (a modal dialog when one is open, else the main window).
class QtPrompter final : public Prompter {
  public:
    void messageBox(const std::string& text) override;
    bool askYesNo(const std::string& text) override;
    ConfirmAnswer confirmDelete(const std::string& caption, const std::string& line1,
                                const std::string& line2, const std::string& line3,
                                const std::string& line4) override;
};
