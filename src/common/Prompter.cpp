#include "common/Prompter.h"

#include <atomic>
#include <cstdio>

namespace {

// Stands in until a front end installs its own: nobody can answer, so every question takes the
// answer that changes nothing.
class DefaultPrompter final : public Prompter {
  public:
    void messageBox(const std::string& text) override {
        std::fprintf(stderr, "%s\n", text.c_str());
        std::fflush(stderr);
    }
    bool askYesNo(const std::string&) override { return false; }
    ConfirmAnswer confirmDelete(const std::string&, const std::string&, const std::string&,
                                const std::string&, const std::string&) override {
        return ConfirmAnswer::Cancel;
    }
};

DefaultPrompter defaultPrompter;
std::atomic<Prompter*> installedPrompter{nullptr};

}  // namespace

Prompter& prompter() {
    Prompter* p = installedPrompter.load();
    return p != nullptr ? *p : defaultPrompter;
}

Prompter* setPrompter(Prompter* p) {
    return installedPrompter.exchange(p);
}
