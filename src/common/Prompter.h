#pragma once

#include <string>

// The answers of the five-button delete confirmation.
enum class ConfirmAnswer { Yes, YesToAll, No, NoToAll, Cancel };

// How the core asks the person at the screen. The desktop program shows message boxes, the
// command-line program answers for itself (silent behaviour), tests script the answers.
class Prompter {
  public:
    virtual ~Prompter() = default;
    virtual void messageBox(const std::string& text) = 0;
    virtual bool askYesNo(const std::string& text) = 0;
    virtual ConfirmAnswer confirmDelete(const std::string& caption, const std::string& line1,
                                        const std::string& line2, const std::string& line3,
                                        const std::string& line4) = 0;
};

// The process-wide prompter; never null (a default that writes messages to stderr, answers
// No to questions and Cancel to confirmations stands in until a front end installs its own).
// Used from the user-interface thread only.
Prompter& prompter();
// Installs `p` (null restores the default) and returns the previous one (null for the default).
Prompter* setPrompter(Prompter* p);
