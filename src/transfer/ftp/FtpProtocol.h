#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "transfer/ftp/FtpReply.h"
#include "transfer/ftp/FtpResult.h"
#include "transfer/ftp/Socket.h"

// Small pure pieces of the FTP conversation that the connection builds on: checking names,
// reading the PWD and FEAT replies, choosing the data address and writing PORT/EPRT arguments.
namespace ftp {

// True when the text holds a byte that would end or split a command line (CR, LF or NUL).
// Such a name is never sent: a server would read the rest as a second command.
bool hasLineBreak(std::string_view text);
// The failure text for such a name, the offending bytes written as \r, \n and \0.
std::string lineBreakErrorText(std::string_view name);

// The path of a 257 reply: the text between the first quote and its closing quote, a doubled
// quote inside standing for one quote. Servers that do not quote get their first word.
std::optional<std::string> parsePwdReply(std::string_view replyText);

struct ServerFeatures {
    bool mlsd = false;  // MLST in FEAT means MLSD as well (RFC 3659)
    bool utf8 = false;
};

// What one login learnt of the server, so that more logins to the same server in the same
// run need not ask again.
struct SessionFacts {
    bool known = false;
    ServerFeatures features;
    bool utf8Taken = false;  // OPTS UTF8 ON answered 2xx
};
ServerFeatures parseFeatures(const Reply& reply);

// Loopback, private, link-local, shared (carrier NAT) and unspecified addresses: those a server
// behind NAT puts into its PASV reply although no client outside can reach them.
bool isNonPublicAddress(std::string_view numericHost);
// The host to open a passive data connection to, given the PASV reply's address and the peer
// of the control connection.
std::string chooseDataHost(std::string_view pasvHost, const std::string& controlPeer);

// "|1|127.0.0.1|40123|" or "|2|::1|40123|"
std::string formatEprtArgument(const Endpoint& endpoint);
// "127,0,0,1,156,187"; empty for an IPv6 endpoint, which PORT cannot express.
std::string formatPortArgument(const Endpoint& endpoint);

// True when a listing that gave no entries really describes an empty folder: every line is
// blank, a "total N" line, or the folder itself ("." and "..", MLSD cdir and pdir), or, in an
// MLSD listing, names a path rather than an entry. Anything else means the lines could not be
// read, which must not pass for an empty folder.
bool isEmptyListing(std::string_view data, bool mlsd = false);

// True when the final reply of a listing that brought no lines says that the folder could not
// be read after all: vsftpd answers a folder it may not open with
// "226 Transfer done (but failed to open directory).", which must not pass for an empty folder.
bool listingReplyTellsOfAFailure(std::string_view replyText);

// The verb of a command line in upper case ("STOR" of "stor /a.html"); at most four letters
// are ever needed, so the result stays in the string's own buffer.
std::string commandVerb(std::string_view line);

// Whether a reply with `code` can answer the command `verb` (upper case). Refusals (4xx, 5xx)
// answer any command; a positive code only the commands it belongs to, and a preliminary (1xx)
// one only transfers. A reply that cannot be the answer belongs to an earlier command: the
// replies have fallen out of step with the commands. Verbs the client never sends, and the
// greeting (empty verb), take any code.
bool replyFitsCommand(std::string_view verb, int code);

// The failure kind of a final reply code. `namesPath` marks commands whose 550 means that the
// path they name does not exist (CWD, DELE, RMD, RNFR, SIZE, MLST, listings).
FtpError classifyReply(int code, bool namesPath);

}  // namespace ftp
