#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace testsupport {

// A small FTP server inside the test process, on 127.0.0.1, serving a temporary folder. It
// speaks the commands our client uses, records every command line it receives and misbehaves on
// request: error replies, slow or missing replies, connections reset in the middle of an upload,
// listings whose data connection fails.
//
// Each control connection is served by a thread of its own. Every wait is bounded and watches
// the server's stop signal, so the destructor ends promptly even while a client hangs.
//
// Faults are consumed in the order commands arrive, by whichever connection sends them.
class FaultFtpServer {
  public:
    struct Options {
        bool mlsd = true;       // FEAT offers MLST, so the client lists with MLSD
        bool epsv = true;       // false: EPSV is refused (502), the client must use PASV
        bool utf8 = false;      // FEAT offers UTF8, so the client sends OPTS UTF8 ON
        bool listPaths = true;  // false: LIST lists the current directory only, and refuses
                                // any argument, as some embedded servers do
        std::string user = "tester";
        std::string password = "secret";
    };
    enum class Channel { Control, Data };

    FaultFtpServer() : FaultFtpServer(Options{}) {}
    explicit FaultFtpServer(Options options);
    ~FaultFtpServer();
    FaultFtpServer(const FaultFtpServer&) = delete;
    FaultFtpServer& operator=(const FaultFtpServer&) = delete;

    // Listens on a free port; false with error() when that failed.
    bool start();
    const std::string& error() const;

    std::string host() const { return "127.0.0.1"; }
    std::uint16_t port() const;
    // The folder that "/" stands for.
    const std::filesystem::path& root() const;
    const std::string& user() const;
    const std::string& password() const;

    // Answers the next `count` commands of `verb` ("DELE", "STOR", "LIST" ...) with `reply`
    // ("450 Busy") instead of carrying them out.
    void failNext(const std::string& verb, int count, const std::string& reply);
    // Holds back the reply to the next `count` commands of `verb` for `delay`. A delay longer
    // than the client's limit makes a silent server.
    void delayNext(const std::string& verb, std::chrono::milliseconds delay, int count = 1);
    // The next STOR keeps the first `afterBytes` bytes, then resets (RST) the data connection
    // (the control connection answers 426) or the control connection (the session ends).
    void resetDuringNextStore(std::uint64_t afterBytes, Channel channel);
    // The next passive data connection is refused (its port closes before the client connects);
    // in active mode the next transfer answers 425 without connecting.
    void refuseNextDataConnection();
    // The next LIST or MLSD opens its data connection and resets it before sending anything,
    // then answers 426.
    void resetNextListing();
    // After the final reply to each of the next `count` commands of `verb`, sends `reply` as
    // well, as a server does that answers one command twice: in the same write (delay 0) or on
    // its own after `delay`.
    void extraReplyAfterNext(const std::string& verb, const std::string& reply, int count = 1,
                             std::chrono::milliseconds delay = std::chrono::milliseconds(0));
    // Extra replies sent so far.
    int extraRepliesSent() const;

    // Every command line received, without its line end, in order of arrival.
    std::vector<std::string> transcript() const;
    void clearTranscript();
    int loginCount() const;    // successful logins
    int sessionCount() const;  // control connections accepted

    struct State;

  private:
    void acceptLoop();

    std::unique_ptr<State> state_;
};

}  // namespace testsupport
