#pragma once

// What the tests of the FTP browse and exclusion dialogs share: the connection "Site" to a test
// server, and a server tree that the folder tree can walk down from its top.

#include <filesystem>
#include <memory>

#include "support/FtpTestServer.h"
#include "transfer/ConnectionDetails.h"

namespace ftpbrowsetest {

inline std::shared_ptr<ConnectionDetails> siteConnection(const testsupport::FtpTestServer& server) {
    auto connection = std::make_shared<ConnectionDetails>();
    connection->name = "Site";
    connection->server = server.host();
    connection->port = server.port();
    connection->user = server.user();
    connection->password = server.password();
    connection->passive = true;
    return connection;
}

// The tree walks down from the top of the server, through the server's own work folder when the
// login lands below it (vsftpd): that one must be listable too.
inline void letTheTreeWalkDown(const testsupport::FtpTestServer& server) {
    namespace fs = std::filesystem;
    fs::permissions(server.root().parent_path(),
                    fs::perms::group_read | fs::perms::group_exec | fs::perms::others_read |
                        fs::perms::others_exec,
                    fs::perm_options::add);
}

}  // namespace ftpbrowsetest
