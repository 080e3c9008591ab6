#include "app/cli/CliPrompter.h"

void CliPrompter::messageBox(const std::string& text) {
    err_ << text << '\n' << std::flush;
}

bool CliPrompter::askYesNo(const std::string&) {
    return false;
}

ConfirmAnswer CliPrompter::confirmDelete(const std::string&, const std::string&, const std::string&,
                                         const std::string&, const std::string&) {
    return ConfirmAnswer::Yes;
}
