#pragma once

#include <set>
#include <string>
#include <string_view>

class ConnectionDetails;

// The example host the connection texts name ("Server address eg. ...").
inline constexpr std::string_view kExampleFtpServer = "ftp.example.com";

// The checks the connection edit dialog and kelvane-cli's connection commands make before they
// take what was typed. First the dialog's own, in its order: a name already in `namesInUse`, an
// anonymous login without an e-mail address, an empty server, an empty name. Then what the
// connections file or an FTP location could not keep: a password holding byte 202, a line break
// in a field, a "/" in the name, and a password the FTP client refuses to send. Returns the
// message of the first that fails, or an empty text when the details may be kept. Texts are
// taken as typed, untrimmed. A connection being edited leaves its own name out of `namesInUse`.
std::string connectionDetailsProblem(const ConnectionDetails& details,
                                     const std::set<std::string>& namesInUse);

// A password whose scrambled form holds a line feed would end its record early and lose the
// rest of it on the next read: byte 202 scrambles into one.
bool passwordCanBeStored(std::string_view password);

// The fields the connections file and its TLS settings keep, from one connection into another; the
// live connection of `to` is left as it is.
void copyStoredFields(const ConnectionDetails& from, ConnectionDetails& to);
