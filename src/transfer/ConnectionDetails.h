#pragma once

#include <cstdint>
#include <istream>
#include <ostream>
#include <string>
#include <string_view>

#include "profiles/PersistentRecord.h"

// One named FTP connection. Held through std::shared_ptr: the connection list, the active
// connection of the main window, open dialogs and running commands may all hold the same one.
class ConnectionDetails : public PersistentRecord {
  public:
    // Writes the record's eight lines; a connection without a name writes nothing.
    std::ostream& write(std::ostream& out) override;
    // Reads keys until "EndRecord" or the end of the stream. Keys arrive in any order; an
    // unknown key reads no value, so its value runs into the next key and that key is lost too.
    std::istream& read(std::istream& in) override;

    // Stored in the connections file.
    std::string name;  // unique, case-sensitive; profiles and FTP locations refer to it
    std::string server;
    std::string user;        // empty: anonymous login
    std::string password;    // plain in memory, scrambled in the file
    std::string email;       // for anonymous login; never sent
    std::uint16_t port = 0;  // 0: the protocol's default
    bool passive = false;

    // The live FTP connection (session, connection object, current folder) is added here with
    // the FTP client.
};

// The connections file keeps passwords out of plain sight, not secret: each byte is shifted by
// 64 (mod 256).
std::string scramblePassword(std::string_view password);
std::string unscramblePassword(std::string_view scrambled);
