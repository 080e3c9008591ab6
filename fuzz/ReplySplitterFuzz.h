#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "transfer/ftp/FtpReply.h"

// The body of the reply fuzz target, shared by the libFuzzer main and the smoke test that runs
// it in every test build. Returns false when an invariant of the splitter or of the address
// parsers breaks; crashes and undefined behaviour are the sanitizers' to find.
namespace fuzz {

namespace detail {

inline bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

inline bool replyIsWellFormed(const ftp::Reply& reply) {
    if (reply.code < 100 || reply.code > 599 || reply.text.size() < 3) {
        return false;
    }
    const std::string code = std::to_string(reply.code);
    const std::vector<std::string> lines = reply.lines();
    if (lines.empty() || lines.front().compare(0, 3, code) != 0) {
        return false;
    }
    const std::string& last = lines.back();
    return last.compare(0, 3, code) == 0 && (last.size() == 3 || last[3] == ' ');
}

inline bool addressIsWellFormed(std::string_view text) {
    if (const auto pasv = ftp::parsePasv(text)) {
        if (pasv->port == 0) {
            return false;
        }
        int parts = 0;
        std::size_t start = 0;
        while (true) {
            const std::size_t dot = pasv->host.find('.', start);
            const std::string part = pasv->host.substr(start, dot - start);
            if (part.empty() || part.size() > 3 || std::stoi(part) > 255) {
                return false;
            }
            ++parts;
            if (dot == std::string::npos) {
                break;
            }
            start = dot + 1;
        }
        if (parts != 4) {
            return false;
        }
    }
    const auto epsv = ftp::parseEpsv(text);
    return !epsv || *epsv != 0;
}

struct Split {
    std::vector<ftp::Reply> replies;
    bool broken = false;
    std::string unfinished;
};

// Feeds the bytes in pieces whose sizes come from the bytes themselves, so the fuzzer also
// explores where reads split lines and replies.
inline Split splitInPieces(std::string_view bytes, bool whole) {
    ftp::ReplySplitter splitter;
    Split result;
    std::size_t pos = 0;
    while (pos < bytes.size()) {
        const std::size_t piece =
            whole ? bytes.size() : 1 + static_cast<unsigned char>(bytes[pos]) % 7;
        splitter.feed(bytes.substr(pos, piece));
        pos += piece;
        while (auto reply = splitter.next()) {
            result.replies.push_back(std::move(*reply));
        }
    }
    result.broken = splitter.broken();
    result.unfinished = splitter.unfinished();
    return result;
}

}  // namespace detail

inline bool replySplitterOne(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const detail::Split whole = detail::splitInPieces(bytes, true);
    const detail::Split pieces = detail::splitInPieces(bytes, false);
    if (whole.broken != pieces.broken || whole.unfinished != pieces.unfinished ||
        whole.replies.size() != pieces.replies.size()) {
        return false;
    }
    if (whole.unfinished.size() > ftp::ReplySplitter::kMaxReplyBytes ||
        (whole.broken && !whole.unfinished.empty())) {
        return false;
    }
    for (std::size_t i = 0; i < whole.replies.size(); ++i) {
        const ftp::Reply& reply = whole.replies[i];
        if (reply.code != pieces.replies[i].code || reply.text != pieces.replies[i].text ||
            !detail::replyIsWellFormed(reply) || !detail::addressIsWellFormed(reply.text)) {
            return false;
        }
    }
    return detail::addressIsWellFormed(bytes);
}

}  // namespace fuzz
