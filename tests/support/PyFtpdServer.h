#pragma once

#include "support/FtpTestServer.h"

namespace testsupport {

// pyftpdlib (Debian's python3-pyftpdlib under /usr/bin/python3): MLSD, MLST, EPSV, EPRT; a user
// with a password and every permission.
class PyFtpdServer : public FtpTestServer {
  public:
    struct Options {
        bool epsv = true;               // false: EPSV is refused, the client must fall back to PASV
        bool eprt = true;               // false: EPRT is refused, the client must fall back to PORT
        std::string masqueradeAddress;  // put into PASV replies instead of the real address
        // Bytes per second the server takes in on an upload (0: as fast as it can), so that a
        // test can act while a large upload is still under way.
        std::uint32_t uploadBytesPerSecond = 0;
        // The first this many STOR commands are answered "451" without storing anything.
        int failedStores = 0;
    };

    PyFtpdServer() : PyFtpdServer(Options{}) {}
    explicit PyFtpdServer(Options options);

    bool start() override;
    bool restart() override;
    std::string name() const override { return "pyftpdlib"; }
    bool offersMlsd() const override { return true; }
    std::string home() const override { return "/"; }
    std::string rejectedUser() const override { return user_; }
    std::string rejectedPassword() const override { return "wrong-password"; }

  private:
    Options options_;
};

}  // namespace testsupport
