#pragma once

#include <string>
#include <vector>

#include "common/Prompter.h"

namespace testsupport {

// A person who reads every message and question and says No and Cancel to everything.
class RecordingPrompter final : public Prompter {
  public:
    void messageBox(const std::string& text) override { messages.push_back(text); }
    bool askYesNo(const std::string& text) override {
        questions.push_back(text);
        return false;
    }
    ConfirmAnswer confirmDelete(const std::string&, const std::string&, const std::string&,
                                const std::string&, const std::string&) override {
        return ConfirmAnswer::Cancel;
    }

    std::vector<std::string> messages;
    std::vector<std::string> questions;
};

}  // namespace testsupport
