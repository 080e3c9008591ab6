#pragma once

#include <set>
#include <string>
#include <string_view>

class ConnectionDetails;

// The example host the connection texts name ("Server address eg. ...").
inline constexpr std::string_view kExampleFtpServer = "ftp.example.com";

// The checks of the connection edit dialog before it accepts what was typed, in the dialog's
// order: a name already in `namesInUse`, an anonymous login without an e-mail address, an empty
// server, an empty name, a password the connections file cannot store. Returns the message of
// the first that fails, or an empty text when the details may be kept. Texts are taken as
// typed, untrimmed. A connection being edited leaves its own name out of `namesInUse`.
std::string connectionDetailsProblem(const ConnectionDetails& details,
                                     const std::set<std::string>& namesInUse);

// A password whose scrambled form holds a line feed would end its record early and lose the
// rest of it on the next read: byte 202 scrambles into one.
bool passwordCanBeStored(std::string_view password);
