#include "transfer/ftp/FtpReply.h"

#include <array>

namespace ftp {

namespace {

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

// The reply code at the start of a line, or 0 when the line does not start with one.
int leadingCode(std::string_view line) {
    if (line.size() < 3 || !isDigit(line[0]) || !isDigit(line[1]) || !isDigit(line[2])) {
        return 0;
    }
    const int code = (line[0] - '0') * 100 + (line[1] - '0') * 10 + (line[2] - '0');
    return code >= 100 && code <= 599 ? code : 0;
}

// Reads a decimal number of at most maxDigits digits at text[pos], moving pos past it.
std::optional<unsigned> readNumber(std::string_view text, std::size_t& pos, std::size_t maxDigits) {
    std::size_t digits = 0;
    unsigned value = 0;
    while (pos < text.size() && isDigit(text[pos])) {
        if (++digits > maxDigits) {
            return std::nullopt;
        }
        value = value * 10 + static_cast<unsigned>(text[pos] - '0');
        ++pos;
    }
    if (digits == 0) {
        return std::nullopt;
    }
    return value;
}

void skipSpaces(std::string_view text, std::size_t& pos) {
    while (pos < text.size() && text[pos] == ' ') {
        ++pos;
    }
}

}  // namespace

std::vector<std::string> Reply::lines() const {
    std::vector<std::string> result;
    if (text.empty()) {
        return result;
    }
    std::size_t start = 0;
    while (true) {
        const std::size_t end = text.find('\n', start);
        if (end == std::string::npos) {
            result.emplace_back(text.substr(start));
            return result;
        }
        result.emplace_back(text.substr(start, end - start));
        start = end + 1;
    }
}

void ReplySplitter::feed(std::string_view bytes) {
    while (!broken_ && !bytes.empty()) {
        const std::size_t end = bytes.find('\n');
        const std::string_view piece =
            bytes.substr(0, end == std::string_view::npos ? end : end + 1);
        bytes.remove_prefix(piece.size());
        if (replyRaw_.size() + pending_.size() + piece.size() > kMaxReplyBytes) {
            markBroken();
            return;
        }
        if (end == std::string_view::npos) {
            pending_.append(piece);
            return;
        }
        // Most lines arrive whole; only a line split across reads goes through pending_.
        std::string_view line = piece;
        if (!pending_.empty()) {
            pending_.append(piece);
            line = pending_;
        }
        replyRaw_.append(line);
        line.remove_suffix(1);
        if (!line.empty() && line.back() == '\r') {
            line.remove_suffix(1);
        }
        takeLine(line);
        pending_.clear();
    }
}

void ReplySplitter::takeLine(std::string_view line) {
    bool complete = false;
    if (code_ == 0) {
        const int code = leadingCode(line);
        if (code == 0) {
            markBroken();
            return;
        }
        text_.assign(line);
        if (line.size() == 3 || line[3] == ' ') {
            complete = true;
        } else if (line[3] != '-') {
            markBroken();
            return;
        }
        code_ = code;
    } else {
        text_.push_back('\n');
        text_.append(line);
        complete = leadingCode(line) == code_ && (line.size() == 3 || line[3] == ' ');
    }
    if (complete) {
        ready_.push_back(Reply{code_, std::move(text_)});
        text_.clear();
        replyRaw_.clear();
        code_ = 0;
    }
}

void ReplySplitter::markBroken() {
    broken_ = true;
    // Nothing more will be read from this stream; let the memory go.
    std::string().swap(pending_);
    std::string().swap(replyRaw_);
    std::string().swap(text_);
    code_ = 0;
}

std::optional<Reply> ReplySplitter::next() {
    if (ready_.empty()) {
        return std::nullopt;
    }
    Reply reply = std::move(ready_.front());
    ready_.pop_front();
    return reply;
}

void ReplySplitter::reset() {
    pending_.clear();
    replyRaw_.clear();
    text_.clear();
    code_ = 0;
    ready_.clear();
    broken_ = false;
}

std::optional<HostPort> parsePasv(std::string_view replyText) {
    // Servers differ in what surrounds the numbers (parentheses, "=", nothing), so look for
    // the first run of six comma-separated numbers that fits.
    for (std::size_t start = 0; start < replyText.size(); ++start) {
        if (!isDigit(replyText[start]) || (start > 0 && isDigit(replyText[start - 1]))) {
            continue;
        }
        std::array<unsigned, 6> numbers{};
        std::size_t pos = start;
        bool fits = true;
        for (std::size_t i = 0; i < numbers.size() && fits; ++i) {
            if (i > 0) {
                skipSpaces(replyText, pos);
                if (pos >= replyText.size() || replyText[pos] != ',') {
                    fits = false;
                    break;
                }
                ++pos;
                skipSpaces(replyText, pos);
            }
            const std::optional<unsigned> number = readNumber(replyText, pos, 3);
            fits = number && *number <= 255;
            if (fits) {
                numbers[i] = *number;
            }
        }
        if (!fits || (pos < replyText.size() && isDigit(replyText[pos]))) {
            continue;
        }
        const unsigned port = numbers[4] * 256 + numbers[5];
        if (port == 0) {
            return std::nullopt;
        }
        HostPort result;
        result.host = std::to_string(numbers[0]) + '.' + std::to_string(numbers[1]) + '.' +
                      std::to_string(numbers[2]) + '.' + std::to_string(numbers[3]);
        result.port = static_cast<std::uint16_t>(port);
        return result;
    }
    return std::nullopt;
}

std::optional<std::uint16_t> parseEpsv(std::string_view replyText) {
    // RFC 2428: "(<d><d><d><port><d>)" where <d> is one character in the range 33..126.
    for (std::size_t open = replyText.find('('); open != std::string_view::npos;
         open = replyText.find('(', open + 1)) {
        std::string_view rest = replyText.substr(open + 1);
        if (rest.size() < 6) {
            return std::nullopt;
        }
        const char delimiter = rest[0];
        if (delimiter < 33 || delimiter > 126 || isDigit(delimiter) || rest[1] != delimiter ||
            rest[2] != delimiter) {
            continue;
        }
        std::size_t pos = 3;
        const std::optional<unsigned> port = readNumber(rest, pos, 5);
        if (!port || *port == 0 || *port > 65535 || pos + 1 >= rest.size() ||
            rest[pos] != delimiter || rest[pos + 1] != ')') {
            continue;
        }
        return static_cast<std::uint16_t>(*port);
    }
    return std::nullopt;
}

}  // namespace ftp
