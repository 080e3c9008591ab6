#pragma once

#include "support/FtpTestServer.h"

namespace testsupport {

// vsftpd (/usr/sbin/vsftpd) on its own configuration: no MLSD, so the client lists with LIST
// and parses Unix lines as a real server writes them. Login is anonymous (an empty user):
// vsftpd checks named users against the system's accounts, and the tests create none.
// The session is not confined to root() (see the configuration), so the server's paths are
// absolute paths of this machine: tests name remote paths through remote().
class VsftpdServer : public FtpTestServer {
  public:
    static constexpr const char* kName = "vsftpd";

    VsftpdServer();

    bool start() override;
    bool restart() override;
    std::string name() const override { return kName; }
    bool offersMlsd() const override { return false; }
    std::string home() const override { return root_.string(); }
    std::string rejectedUser() const override { return "kelvane-no-such-user"; }
    std::string rejectedPassword() const override { return "wrong-password"; }

  private:
    bool startOnce();
    bool startOn(std::uint16_t port);
    void writeConfiguration(std::uint16_t port, std::uint16_t passiveFirst);
};

}  // namespace testsupport
