#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// Pure pieces of the FTP control connection: splitting the byte stream into replies and reading
// the address replies of EPSV and PASV.
namespace ftp {

struct Reply {
    int code = 0;      // the three-digit code of the final line
    std::string text;  // every line of the reply without line ends, joined by "\n"
    std::vector<std::string> lines() const;
};

// Feed it the bytes of the control connection as they arrive; take complete replies out.
// A reply is complete when a line starts with the opening code followed by a space (RFC 959
// multi-line replies); lines in between may be anything, including other codes.
class ReplySplitter {
  public:
    // A reply (or a single unterminated line) longer than this marks the stream broken, so that
    // a misbehaving server cannot make the client buffer without end.
    static constexpr std::size_t kMaxReplyBytes = 1024 * 1024;

    void feed(std::string_view bytes);
    // The next complete reply, if one has arrived.
    std::optional<Reply> next();
    // True when the server sent something that is not an FTP reply (garbage first line) or a
    // reply longer than the limit; the connection should then be dropped. Replies completed
    // before that point can still be taken out with next().
    bool broken() const { return broken_; }
    void reset();
    // True when everything fed has been taken out: no reply waiting, no part of one.
    bool idle() const { return ready_.empty() && pending_.empty() && replyRaw_.empty(); }
    // The bytes received that do not yet form a complete reply, exactly as they arrived.
    std::string unfinished() const { return replyRaw_ + pending_; }

  private:
    void takeLine(std::string_view line);
    void markBroken();

    std::string pending_;   // an unfinished line
    std::string replyRaw_;  // the complete lines of the reply in progress, with their line ends
    std::string text_;      // the same lines without line ends, joined by "\n"
    int code_ = 0;          // code of the reply in progress; 0 before its first line
    std::deque<Reply> ready_;
    bool broken_ = false;
};

struct HostPort {
    std::string host;  // dotted IPv4 text for PASV
    std::uint16_t port = 0;
};

// "227 Entering Passive Mode (h1,h2,h3,h4,p1,p2)": the six numbers anywhere in the text.
// The address is returned as given, 0.0.0.0 included; choosing another address is the caller's
// business. Port 0 is refused.
std::optional<HostPort> parsePasv(std::string_view replyText);
// "229 Entering Extended Passive Mode (|||port|)": the delimiter may be any printable character.
std::optional<std::uint16_t> parseEpsv(std::string_view replyText);

}  // namespace ftp
