#include "transfer/ConnectionChecks.h"

#include <algorithm>
#include <utility>

#include "transfer/ConnectionDetails.h"

namespace {

constexpr unsigned char kScrambledToLineFeed = 202;

bool hasLineBreak(std::string_view text) {
    return text.find_first_of("\r\n") != std::string_view::npos;
}

// What a connections file record or an FTP location cannot hold. A field over several lines
// would split its record; a name with "/" could never be found again, since an FTP location
// ends the name at its first "/".
std::string unstorableField(const ConnectionDetails& details) {
    const std::pair<const char*, const std::string*> fields[] = {
        {"connection name", &details.name},
        {"server address", &details.server},
        {"user name", &details.user},
        {"email address", &details.email}};
    for (const auto& [label, value] : fields) {
        if (hasLineBreak(*value)) {
            return std::string("The ") + label +
                   " contains a line break, which the connections file cannot store";
        }
    }
    if (details.name.find('/') != std::string::npos) {
        return "A connection name cannot contain \"/\": an FTP location ends the name at its "
               "first \"/\"";
    }
    if (hasLineBreak(details.password) || details.password.find('\0') != std::string::npos) {
        return "The password contains a line break (CR) or a NUL byte and cannot be sent to an "
               "FTP server";
    }
    return {};
}

}  // namespace

bool passwordCanBeStored(std::string_view password) {
    return std::none_of(password.begin(), password.end(), [](char c) {
        return static_cast<unsigned char>(c) == kScrambledToLineFeed;
    });
}

std::string connectionDetailsProblem(const ConnectionDetails& details,
                                     const std::set<std::string>& namesInUse) {
    if (namesInUse.count(details.name) != 0) {
        return "That connection name has already been used, please enter an alternative";
    }
    if (details.user.empty() && details.email.empty()) {
        return "An empty user name means Kelvane will login anonymously\n"
               "and this requires an email address to be provided";
    }
    if (details.server.empty()) {
        return "A server address must be provided eg. \"" + std::string(kExampleFtpServer) + "\"";
    }
    if (details.name.empty()) {
        return "A name for this connection must be provided eg. \"My Connection\"";
    }
    if (!passwordCanBeStored(details.password)) {
        // The password itself is never shown, not even in part. Typed as UTF-8, the byte is
        // part of the letters U+0280 to U+02BF (the modifier apostrophe among them).
        return "The password contains a character (byte 202) that the connections file cannot "
               "store, please choose another password (in UTF-8 every character from U+0280 to "
               "U+02BF holds that byte)";
    }
    return unstorableField(details);
}

void copyStoredFields(const ConnectionDetails& from, ConnectionDetails& to) {
    to.name = from.name;
    to.server = from.server;
    to.user = from.user;
    to.password = from.password;
    to.email = from.email;
    to.port = from.port;
    to.passive = from.passive;
    to.tlsMode = from.tlsMode;
    to.tlsFingerprint = from.tlsFingerprint;
}
