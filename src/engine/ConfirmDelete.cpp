#include "engine/ConfirmDelete.h"

#include "common/ErrorReport.h"
#include "common/Prompter.h"

namespace {

bool isContinuationByte(char c) {
    return (static_cast<unsigned char>(c) & 0xC0) == 0x80;
}

// The byte length of the first `characters` characters of `text` from `start`.
std::size_t byteLengthOf(const std::string& text, std::size_t start, std::size_t characters) {
    std::size_t end = start;
    std::size_t counted = 0;
    while (end < text.size() && counted < characters) {
        ++end;
        while (end < text.size() && isContinuationByte(text[end])) {
            ++end;
        }
        ++counted;
    }
    return end - start;
}

}  // namespace

int askToDelete(const std::string& caption, const std::string& line1, const std::string& line2,
                const std::string& line3, const std::string& line4, ConfirmationFlags& flags) {
    if (flags.yesToAll || quietMode) {
        return kDeleteIt;
    }
    if (flags.noToAll) {
        return kKeepIt;
    }
    switch (prompter().confirmDelete(caption, line1, line2, line3, line4)) {
        case ConfirmAnswer::Yes:
            return kDeleteIt;
        case ConfirmAnswer::YesToAll:
            flags.yesToAll = true;
            return kDeleteIt;
        case ConfirmAnswer::No:
            return kKeepIt;
        case ConfirmAnswer::NoToAll:
            flags.noToAll = true;
            return kKeepIt;
        case ConfirmAnswer::Cancel:
            break;
    }
    return kCancelRun;
}

std::array<std::string, 4> splitConfirmText(const std::string& text, std::size_t width) {
    std::array<std::string, 4> lines;
    std::size_t position = 0;
    for (std::string& line : lines) {
        if (position >= text.size()) {
            break;
        }
        const std::size_t length = byteLengthOf(text, position, width);
        line = text.substr(position, length);
        position += length;
    }
    return lines;
}
