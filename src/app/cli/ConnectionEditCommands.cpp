#include "app/cli/ConnectionEditCommands.h"

#include <termios.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <charconv>
#include <filesystem>
#include <iostream>
#include <memory>
#include <set>
#include <system_error>

#include "app/cli/CliFrontEnd.h"
#include "common/ErrorReport.h"
#include "transfer/ConnectionChecks.h"
#include "transfer/ConnectionsFile.h"

namespace {

// Turns off the echo of a terminal while a password is typed on it.
class EchoOff {
  public:
    explicit EchoOff(int fd) : fd_(fd) {
        if (::tcgetattr(fd_, &saved_) == 0) {
            termios quiet = saved_;
            quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
            active_ = ::tcsetattr(fd_, TCSAFLUSH, &quiet) == 0;
        }
    }
    ~EchoOff() {
        if (active_) {
            ::tcsetattr(fd_, TCSAFLUSH, &saved_);
        }
    }
    EchoOff(const EchoOff&) = delete;
    EchoOff& operator=(const EchoOff&) = delete;

  private:
    int fd_;
    termios saved_{};
    bool active_ = false;
};

// One line, without its LF or CR LF; an empty line is an empty password. False when the input
// ended before anything was read: a deploy job whose secret never arrived must not store an
// empty password and carry on.
bool readPassword(std::istream& in, std::ostream& err, std::string& password) {
    const bool terminal = &in == &std::cin && ::isatty(STDIN_FILENO) == 1;
    std::unique_ptr<EchoOff> echoOff;
    if (terminal) {
        err << "Password: " << std::flush;
        echoOff = std::make_unique<EchoOff>(STDIN_FILENO);
    }
    std::string line;
    const bool read = static_cast<bool>(std::getline(in, line));
    if (terminal) {
        err << '\n';
    }
    if (!read) {
        return false;
    }
    if (!line.empty() && line.back() == '\r') {
        line.pop_back();
    }
    password = std::move(line);
    return true;
}

bool parsePort(const std::string& text, std::uint16_t& port) {
    unsigned long value = 0;
    const char* end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, value);
    if (text.empty() || error != std::errc() || stop != end || value > 65535) {
        return false;
    }
    port = static_cast<std::uint16_t>(value);
    return true;
}

// Takes what was given into `details`; the message of what could not be taken, or empty.
std::string applyFields(ConnectionDetails& details, const ConnectionFields& fields,
                        std::istream& in, std::ostream& err) {
    if (fields.port && !parsePort(*fields.port, details.port)) {
        return "The port must be a number from 0 to 65535 (0 for the default port), not \"" +
               *fields.port + "\"";
    }
    if (fields.server) {
        details.server = *fields.server;
    }
    if (fields.user) {
        details.user = *fields.user;
    }
    if (fields.email) {
        details.email = *fields.email;
    }
    if (fields.passive) {
        details.passive = *fields.passive;
    }
    if (fields.tls && !ftp::parseTlsMode(*fields.tls, details.tlsMode)) {
        return "The TLS mode must be off, required or offered, not \"" + *fields.tls + "\"";
    }
    if (fields.passwordFromStdin && !readPassword(in, err, details.password)) {
        return "No password on standard input (--password-stdin reads one line)";
    }
    return {};
}

std::set<std::string> namesInUse(const ConnectionList& connections,
                                 const ConnectionDetails* except) {
    std::set<std::string> names;
    for (const auto& connection : connections) {
        if (connection.get() != except) {
            names.insert(connection->name);
        }
    }
    return names;
}

int refuse(std::ostream& err, const std::string& message) {
    err << message << '\n';
    return kExitFailed;
}

// Applies `fields` to `details` and runs every check; the first message, or empty.
std::string takeFields(ConnectionDetails& details, const ConnectionFields& fields,
                       const std::set<std::string>& names, std::istream& in, std::ostream& err) {
    std::string problem = applyFields(details, fields, in, err);
    if (problem.empty()) {
        problem = connectionDetailsProblem(details, names);
    }
    return problem;
}

int save(const std::filesystem::path& file, const ConnectionList& connections, std::ostream& err) {
    // On a fresh machine the settings folder does not exist until something is saved there.
    std::error_code ignored;
    if (file.has_parent_path()) {
        std::filesystem::create_directories(file.parent_path(), ignored);
    }
    CliFrontEnd frontEnd(err);
    if (!saveConnections(file, connections)) {
        err << lastErrorText() << '\n';
        return kExitFailed;
    }
    return kExitDone;
}

std::string noConnection(const std::string& name, const std::filesystem::path& file) {
    return "No connection named \"" + name + "\" in " + file.string();
}

bool changesSomething(const ConnectionFields& fields) {
    return fields.server || fields.port || fields.user || fields.email || fields.passive ||
           fields.tls || fields.passwordFromStdin;
}

}  // namespace

int runConnectionAdd(const CliOptions& options, const ConnectionFields& fields, std::istream& in,
                     std::ostream& out, std::ostream& err) {
    const std::filesystem::path file = connectionsFilePath(options);
    ConnectionList connections = loadConnections(file);
    auto connection = std::make_shared<ConnectionDetails>();
    connection->name = fields.name;
    // Passive mode passes the firewalls and NAT routers in front of most clients; TLS keeps the
    // password and the files out of sight on the way.
    connection->passive = true;
    connection->tlsMode = ftp::TlsMode::Required;
    const std::string problem =
        takeFields(*connection, fields, namesInUse(connections, nullptr), in, err);
    if (!problem.empty()) {
        return refuse(err, problem);
    }
    connections.push_back(connection);
    const int status = save(file, connections, err);
    if (status == kExitDone) {
        out << "Added connection \"" << fields.name << "\" to " << file.string() << '\n';
    }
    return status;
}

int runConnectionEdit(const CliOptions& options, const ConnectionFields& fields, std::istream& in,
                      std::ostream& out, std::ostream& err) {
    const std::filesystem::path file = connectionsFilePath(options);
    const ConnectionList connections = loadConnections(file);
    const std::shared_ptr<ConnectionDetails> stored = findConnection(connections, fields.name);
    if (!stored) {
        return refuse(err, noConnection(fields.name, file));
    }
    if (!changesSomething(fields)) {
        return refuse(err,
                      "Nothing to change: give at least one of --server, --port, --user, "
                      "--password-stdin, --email, --active, --passive, --tls");
    }
    ConnectionDetails edited;
    copyStoredFields(*stored, edited);
    const std::string problem =
        takeFields(edited, fields, namesInUse(connections, stored.get()), in, err);
    if (!problem.empty()) {
        return refuse(err, problem);
    }
    copyStoredFields(edited, *stored);
    const int status = save(file, connections, err);
    if (status == kExitDone) {
        out << "Changed connection \"" << fields.name << "\" in " << file.string() << '\n';
    }
    return status;
}

int runConnectionRemove(const CliOptions& options, const std::string& name, std::ostream& out,
                        std::ostream& err) {
    const std::filesystem::path file = connectionsFilePath(options);
    ConnectionList connections = loadConnections(file);
    const std::shared_ptr<ConnectionDetails> stored = findConnection(connections, name);
    if (!stored) {
        return refuse(err, noConnection(name, file));
    }
    std::erase(connections, stored);
    const int status = save(file, connections, err);
    if (status == kExitDone) {
        out << "Removed connection \"" << name << "\" from " << file.string() << '\n';
    }
    return status;
}

int runConnectionTrust(const CliOptions& options, const std::string& name, std::ostream& out,
                       std::ostream& err) {
    const std::filesystem::path file = connectionsFilePath(options);
    const ConnectionList connections = loadConnections(file);
    const std::shared_ptr<ConnectionDetails> stored = findConnection(connections, name);
    if (!stored) {
        return refuse(err, noConnection(name, file));
    }
    if (stored->tlsMode == ftp::TlsMode::Off) {
        return refuse(err, "The connection \"" + name +
                               "\" does not use TLS; turn it on first with: kelvane-cli "
                               "connections edit " +
                               name + " --tls required");
    }
    applyCommandSettings(options);
    CliFrontEnd frontEnd(err);
    // Whatever was trusted before plays no part: this call is what the user trusts now.
    auto probe = std::make_shared<ConnectionDetails>();
    copyStoredFields(*stored, *probe);
    probe->tlsFingerprint.clear();
    const bool connected = probe->connectFtp();
    probe->disconnectFtp();
    if (!connected && !probe->certificateRefused()) {
        err << lastErrorText() << '\n';
        return kExitFailed;
    }
    const ftp::CertificateInfo certificate = probe->lastCertificate;
    out << "Subject:      " << certificate.subject << '\n'
        << "Issuer:       " << certificate.issuer << '\n'
        << "Valid from:   " << certificate.validFrom << '\n'
        << "Valid until:  " << certificate.validUntil << '\n'
        << "SHA-256:      " << certificate.fingerprint << '\n';
    if (!certificate.problem.empty()) {
        out << "Not trusted by the system: " << certificate.problem << '\n';
    }
    stored->tlsFingerprint = certificate.fingerprint;
    const int status = save(file, connections, err);
    if (status == kExitDone) {
        out << "Trusted this certificate for connection \"" << name << "\" in "
            << tlsSettingsPath(file).string() << '\n';
    }
    return status;
}

namespace {

void addFieldOptions(CLI::App& command, ConnectionFields& fields) {
    command.add_option("name", fields.name, "The connection's name, as FTP:NAME/PATH names it")
        ->required()
        ->type_name("NAME");
    command
        .add_option_function<std::string>(
            "--server", [&fields](const std::string& value) { fields.server = value; },
            "Server address, e.g. " + std::string(kExampleFtpServer))
        ->type_name("HOST");
    command
        .add_option_function<std::string>(
            "--port", [&fields](const std::string& value) { fields.port = value; },
            "Server port, 0 to 65535 (0: the default, 21)")
        ->type_name("N");
    command
        .add_option_function<std::string>(
            "--user", [&fields](const std::string& value) { fields.user = value; },
            "FTP user name (empty: anonymous login, which needs --email)")
        ->type_name("USER");
    command.add_flag("--password-stdin", fields.passwordFromStdin,
                     "Read the password from one line of standard input");
    command
        .add_option_function<std::string>(
            "--email", [&fields](const std::string& value) { fields.email = value; },
            "E-mail address for anonymous login")
        ->type_name("E");
    CLI::Option* active = command.add_flag_callback(
        "--active", [&fields] { fields.passive = false; }, "Active mode (PORT) instead of passive");
    CLI::Option* passive = command.add_flag_callback(
        "--passive", [&fields] { fields.passive = true; },
        "Passive mode (what a new connection starts with)");
    active->excludes(passive);
    command
        .add_option_function<std::string>(
            "--tls", [&fields](const std::string& value) { fields.tls = value; },
            "FTP over TLS: off, required (what a new connection starts with) or offered (TLS "
            "when the server has it)")
        ->type_name("MODE");
}

}  // namespace

ConnectionEditCli::ConnectionEditCli(CLI::App& connections) {
    add_ = connections.add_subcommand("add", "Add an FTP connection to the connections file");
    addFieldOptions(*add_, fields_);
    edit_ = connections.add_subcommand(
        "edit", "Change the given fields of a connection; the others keep their values");
    addFieldOptions(*edit_, fields_);
    remove_ = connections.add_subcommand("remove", "Remove a connection");
    remove_->add_option("name", fields_.name, "The connection's name")
        ->required()
        ->type_name("NAME");
    trust_ = connections.add_subcommand(
        "trust", "Connect, show the server's TLS certificate and trust it for the connection");
    trust_->add_option("name", fields_.name, "The connection's name")
        ->required()
        ->type_name("NAME");
}

std::optional<int> ConnectionEditCli::run(const CliOptions& options, std::istream& in,
                                          std::ostream& out, std::ostream& err) const {
    if (add_->parsed()) {
        return runConnectionAdd(options, fields_, in, out, err);
    }
    if (edit_->parsed()) {
        return runConnectionEdit(options, fields_, in, out, err);
    }
    if (remove_->parsed()) {
        return runConnectionRemove(options, fields_.name, out, err);
    }
    if (trust_->parsed()) {
        return runConnectionTrust(options, fields_.name, out, err);
    }
    return std::nullopt;
}
