#pragma once

#include <string>
#include <vector>

#include "common/Prompter.h"

namespace testsupport {

// Messages are recorded; Yes/No questions take scripted answers (No once the script is used
// up); delete confirmations are answered Yes.
class ScriptedPrompter final : public Prompter {
  public:
    void messageBox(const std::string& text) override { messages.push_back(text); }
    bool askYesNo(const std::string& text) override {
        questions.push_back(text);
        if (answers.empty()) {
            return false;
        }
        const bool answer = answers.front();
        answers.erase(answers.begin());
        return answer;
    }
    ConfirmAnswer confirmDelete(const std::string&, const std::string&, const std::string&,
                                const std::string&, const std::string&) override {
        return ConfirmAnswer::Yes;
    }

    std::vector<std::string> messages;
    std::vector<std::string> questions;
    std::vector<bool> answers;
};

}  // namespace testsupport
