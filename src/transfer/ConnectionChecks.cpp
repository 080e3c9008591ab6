#include "transfer/ConnectionChecks.h"

#include <algorithm>

#include "transfer/ConnectionDetails.h"

namespace {

constexpr unsigned char kScrambledToLineFeed = 202;

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
        // The password itself is never shown, not even in part.
        return "The password contains a character (byte 202) that the connections file cannot "
               "store, please choose another password";
    }
    return {};
}
