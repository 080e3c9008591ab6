#include "transfer/ftp/FtpProtocol.h"

#include <arpa/inet.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdint>
#include <cstring>

#include "transfer/ftp/FtpListing.h"

namespace ftp {

bool hasLineBreak(std::string_view text) {
    return text.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos;
}

std::string lineBreakErrorText(std::string_view name) {
    std::string shown;
    for (char c : name) {
        if (c == '\r') {
            shown += "\\r";
        } else if (c == '\n') {
            shown += "\\n";
        } else if (c == '\0') {
            shown += "\\0";
        } else {
            shown += c;
        }
    }
    return "The name \"" + shown +
           "\" contains a line break (CR or LF) or a NUL byte and cannot be sent to an FTP "
           "server";
}

std::optional<std::string> parsePwdReply(std::string_view replyText) {
    // The path is on the last line of the reply, after the code.
    std::size_t lastLine = replyText.rfind('\n');
    std::string_view line =
        lastLine == std::string_view::npos ? replyText : replyText.substr(lastLine + 1);
    if (line.size() < 4) {
        return std::nullopt;
    }
    line.remove_prefix(4);
    std::size_t open = line.find('"');
    if (open == std::string_view::npos) {
        std::size_t end = line.find(' ');
        std::string_view word = line.substr(0, end);
        if (word.empty()) {
            return std::nullopt;
        }
        return std::string(word);
    }
    std::string path;
    for (std::size_t i = open + 1; i < line.size(); ++i) {
        if (line[i] != '"') {
            path += line[i];
        } else if (i + 1 < line.size() && line[i + 1] == '"') {
            path += '"';
            ++i;
        } else {
            return path;
        }
    }
    return std::nullopt;  // no closing quote
}

ServerFeatures parseFeatures(const Reply& reply) {
    ServerFeatures features;
    if (reply.code / 100 != 2) {
        return features;
    }
    for (const std::string& line : reply.lines()) {
        // Feature lines start with a space; the first and last lines carry the code.
        if (line.empty() || line[0] != ' ') {
            continue;
        }
        std::size_t start = line.find_first_not_of(' ');
        if (start == std::string::npos) {
            continue;
        }
        std::size_t end = line.find(' ', start);
        std::string name = line.substr(start, end == std::string::npos ? end : end - start);
        for (char& c : name) {
            c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        }
        if (name == "MLST" || name == "MLSD") {
            features.mlsd = true;
        } else if (name == "UTF8") {
            features.utf8 = true;
        }
    }
    return features;
}

bool isNonPublicAddress(std::string_view numericHost) {
    const std::string host(numericHost);
    in_addr v4{};
    if (inet_pton(AF_INET, host.c_str(), &v4) == 1) {
        const std::uint32_t a = ntohl(v4.s_addr);
        auto in = [a](std::uint32_t network, int bits) {
            const std::uint32_t mask = bits == 0 ? 0 : ~std::uint32_t{0} << (32 - bits);
            return (a & mask) == network;
        };
        return in(0x00000000, 8) || in(0x0A000000, 8) || in(0x7F000000, 8) || in(0xA9FE0000, 16) ||
               in(0xAC100000, 12) || in(0xC0A80000, 16) || in(0x64400000, 10);
    }
    in6_addr v6{};
    if (inet_pton(AF_INET6, host.c_str(), &v6) == 1) {
        const unsigned char* b = v6.s6_addr;
        static const unsigned char kZero[16] = {};
        bool unspecifiedOrLoopback = std::memcmp(b, kZero, 15) == 0 && (b[15] == 0 || b[15] == 1);
        bool linkLocal = b[0] == 0xFE && (b[1] & 0xC0) == 0x80;
        bool uniqueLocal = (b[0] & 0xFE) == 0xFC;
        return unspecifiedOrLoopback || linkLocal || uniqueLocal;
    }
    return true;  // not an address at all: nothing to connect to
}

std::string chooseDataHost(std::string_view pasvHost, const std::string& controlPeer) {
    if (pasvHost.empty() || pasvHost == "0.0.0.0") {
        return controlPeer;
    }
    if (isNonPublicAddress(pasvHost) && !isNonPublicAddress(controlPeer)) {
        return controlPeer;
    }
    return std::string(pasvHost);
}

std::string formatEprtArgument(const Endpoint& endpoint) {
    return std::string("|") + (endpoint.ipv6 ? "2" : "1") + "|" + endpoint.host + "|" +
           std::to_string(endpoint.port) + "|";
}

std::string formatPortArgument(const Endpoint& endpoint) {
    if (endpoint.ipv6) {
        return {};
    }
    std::string result = endpoint.host;
    for (char& c : result) {
        if (c == '.') {
            c = ',';
        }
    }
    return result + "," + std::to_string(endpoint.port >> 8) + "," +
           std::to_string(endpoint.port & 0xFF);
}

bool listingReplyTellsOfAFailure(std::string_view replyText) {
    std::string lower(replyText);
    for (char& c : lower) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return lower.find("failed to open directory") != std::string::npos;
}

bool isEmptyListing(std::string_view data, bool mlsd) {
    while (!data.empty()) {
        std::size_t end = data.find('\n');
        std::string_view line = data.substr(0, end);
        data = end == std::string_view::npos ? std::string_view() : data.substr(end + 1);
        while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) {
            line.remove_suffix(1);
        }
        if (line.empty() || line.substr(0, 6) == "total " || line == "." || line == ".." ||
            line.ends_with(" .") || line.ends_with(" ..")) {
            continue;
        }
        std::string lower(line);
        for (char& c : lower) {
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        }
        if (lower.find("type=cdir;") != std::string::npos ||
            lower.find("type=pdir;") != std::string::npos) {
            continue;
        }
        if (mlsd) {
            const std::optional<ListingEntry> entry = parseMlsdLine(line);
            if (entry && !isEntryOfFolder(entry->name)) {
                continue;
            }
        }
        return false;
    }
    return true;
}

std::string commandVerb(std::string_view line) {
    std::string verb(line.substr(0, std::min<std::size_t>(line.find(' '), 4)));
    for (char& c : verb) {
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    return verb;
}

namespace {

struct ReplySet {
    std::string_view verb;
    std::array<int, 3> codes;  // the positive codes that answer it; 0 fills the rest
    bool transfer;             // preliminary replies, then 226 or 250
};

// RFC 959 5.4 and RFC 2389, 2428, 3659, with what common servers send besides (200 to CWD,
// DELE, RMD and RNTO; 250 to MKD; 202 to OPTS).
constexpr ReplySet kReplySets[] = {
    {"USER", {230, 331, 332}, false}, {"PASS", {230, 202, 332}, false},
    {"FEAT", {211, 214, 0}, false},   {"OPTS", {200, 202, 0}, false},
    {"TYPE", {200, 0, 0}, false},     {"PWD", {257, 0, 0}, false},
    {"CWD", {250, 200, 0}, false},    {"MKD", {257, 250, 0}, false},
    {"RMD", {250, 200, 0}, false},    {"DELE", {250, 200, 0}, false},
    {"RNFR", {350, 0, 0}, false},     {"RNTO", {250, 200, 0}, false},
    {"NOOP", {200, 0, 0}, false},     {"SIZE", {213, 0, 0}, false},
    {"MLST", {250, 0, 0}, false},     {"EPSV", {229, 0, 0}, false},
    {"PASV", {227, 0, 0}, false},     {"EPRT", {200, 0, 0}, false},
    {"PORT", {200, 0, 0}, false},     {"QUIT", {221, 0, 0}, false},
    {"LIST", {226, 250, 0}, true},    {"MLSD", {226, 250, 0}, true},
    {"STOR", {226, 250, 0}, true},
};

}  // namespace

bool replyFitsCommand(std::string_view verb, int code) {
    if (code >= 400) {
        return true;
    }
    for (const ReplySet& set : kReplySets) {
        if (set.verb == verb) {
            if (code < 200) {
                return set.transfer;
            }
            return std::find(set.codes.begin(), set.codes.end(), code) != set.codes.end();
        }
    }
    return true;
}

FtpError classifyReply(int code, bool namesPath) {
    if (code >= 100 && code < 400) {
        return FtpError::None;
    }
    if (code == 421) {
        return FtpError::ConnectionLost;
    }
    if (code >= 400 && code < 500) {
        return FtpError::Transient;
    }
    if (code == 550 && namesPath) {
        return FtpError::NotFound;
    }
    return FtpError::Fatal;
}

}  // namespace ftp
