#pragma once

#include <istream>
#include <optional>
#include <ostream>
#include <string>

#include "app/cli/CliOptions.h"

namespace CLI {
class App;
}

// What `connections add` or `connections edit` was given. A field left unset keeps its value
// (edit) or takes the value of a new connection (add): no user, password or e-mail, port 0,
// passive mode, TLS required.
struct ConnectionFields {
    std::string name;
    std::optional<std::string> server;
    std::optional<std::string> port;  // as typed; the command checks it
    std::optional<std::string> user;
    std::optional<std::string> email;
    std::optional<bool> passive;
    std::optional<std::string> tls;  // off, required or offered, as typed
    // The password is one line of standard input, never an argument: arguments are visible to
    // every user of the machine in the process list.
    bool passwordFromStdin = false;
};

// `kelvane-cli connections add|edit|remove NAME`: changes the connections file the way the
// connection dialogs of the desktop program do, with their checks and messages, and saves it as
// the desktop program does (one atomic replacement, mode 0600). A refused change prints its
// reason to `err`, exits with 2 and leaves the file as it was. `in` gives the password.
int runConnectionAdd(const CliOptions& options, const ConnectionFields& fields, std::istream& in,
                     std::ostream& out, std::ostream& err);
int runConnectionEdit(const CliOptions& options, const ConnectionFields& fields, std::istream& in,
                      std::ostream& out, std::ostream& err);
int runConnectionRemove(const CliOptions& options, const std::string& name, std::ostream& out,
                        std::ostream& err);
// `kelvane-cli connections trust NAME`: connects with TLS, prints the server's certificate and
// pins its SHA-256 fingerprint for the connection (saved beside the connections file).
int runConnectionTrust(const CliOptions& options, const std::string& name, std::ostream& out,
                       std::ostream& err);

// The four subcommands of `connections` on the command line.
class ConnectionEditCli {
  public:
    // The options write into this object, which therefore stays where it was made.
    explicit ConnectionEditCli(CLI::App& connections);
    ConnectionEditCli(const ConnectionEditCli&) = delete;
    ConnectionEditCli& operator=(const ConnectionEditCli&) = delete;

    // Runs the subcommand the command line gave; nothing when it gave none of them.
    std::optional<int> run(const CliOptions& options, std::istream& in, std::ostream& out,
                           std::ostream& err) const;

  private:
    ConnectionFields fields_;
    CLI::App* add_ = nullptr;
    CLI::App* edit_ = nullptr;
    CLI::App* remove_ = nullptr;
    CLI::App* trust_ = nullptr;
};
