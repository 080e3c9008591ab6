#include <CLI/CLI.hpp>

#include <iostream>
#include <string>

#include "app/cli/CliOptions.h"
#include "app/cli/ConnectionEditCommands.h"
#include "app/cli/ConnectionsCommand.h"
#include "app/cli/LsCommand.h"
#include "app/cli/ProfileCommands.h"
#include "app/cli/RunCommand.h"
#include "transfer/ConnectionPool.h"
#include "transfer/ftp/Tls.h"

namespace {

// The synopsis under --help; README shows the same lines.
constexpr const char* kUsage =
    "Usage (the global options --config-dir DIR and --connections FILE go with every command):\n"
    "  kelvane-cli run FILE [--dry-run] [--parallel N] [--tls-fingerprint HEX]\n"
    "  kelvane-cli ls FTP:NAME/PATH [--tls-fingerprint HEX]\n"
    "  kelvane-cli connections\n"
    "  kelvane-cli connections add NAME --server HOST [--port N] [--user USER]\n"
    "          [--password-stdin] [--email E] [--active] [--tls off|required|offered]\n"
    "  kelvane-cli connections edit NAME [the options of add] [--passive]\n"
    "  kelvane-cli connections remove NAME\n"
    "  kelvane-cli connections trust NAME\n"
    "  kelvane-cli profile new FILE.kvp --local DIR --ftp FTP:NAME/PATH [--delete] [--no-add]\n"
    "          [--no-sub-folders] [--compare time|size] [--adjust [-]H:MM]\n"
    "          [--log FILE [--log-append]] [--exclude-local PATTERN]... [--exclude-ftp PATH]...\n"
    "          [--silent] [--auto-start] [--force]\n"
    "  kelvane-cli profile show FILE.kvp\n"
    "  kelvane-cli --help | --version\n"
    "Each command takes --help. A password is only ever read from standard input.";

}  // namespace

int main(int argc, char** argv) {
    CLI::App app{"Keeps a web site on an FTP server in step with a local folder tree.",
                 "kelvane-cli"};
    app.set_version_flag("--version", "kelvane-cli " KELVANE_VERSION);
    // Global options may also follow the subcommand.
    app.fallthrough();
    app.require_subcommand(1);

    CliOptions options;
    app.add_option("--config-dir", options.configDir,
                   "Settings folder (default: $KELVANE_CONFIG_DIR, else "
                   "$XDG_CONFIG_HOME/Quillmere, else ~/.config/Quillmere)")
        ->type_name("DIR");
    app.add_option("--connections", options.connectionsFile,
                   "Connections file to use instead of the ConnectionsFileName setting")
        ->type_name("FILE");

    CLI::App* connections = app.add_subcommand(
        "connections", "List the FTP connections (passwords are never shown), or change them");
    // Without a subcommand it lists.
    connections->require_subcommand(0, 1);
    const ConnectionEditCli connectionEdits(*connections);
    std::string lsLocation;
    CLI::App* ls = app.add_subcommand("ls", "List a folder on an FTP server");
    ls->add_option("location", lsLocation, "The folder, as FTP:NAME/PATH")
        ->required()
        ->type_name("FTP:NAME/PATH");
    constexpr const char* kFingerprintHelp =
        "Trust the server certificate with this SHA-256 fingerprint for this call only "
        "(colons and case do not matter)";
    ls->add_option("--tls-fingerprint", options.tlsFingerprint, kFingerprintHelp)->type_name("HEX");

    std::string runFile;
    bool dryRun = false;
    CLI::App* run = app.add_subcommand(
        "run", "Synchronise a profile (.kvp) or run a batch (.kvb) with no one at the screen");
    run->add_option("file", runFile, "The profile or batch file")->required()->type_name("FILE");
    run->add_flag("--dry-run", dryRun, "Print the plan, one line per action, and change nothing");
    run->add_option("--tls-fingerprint", options.tlsFingerprint, kFingerprintHelp)
        ->type_name("HEX");
    run->add_option("--parallel", options.parallel,
                    "Use up to N logins at once for this run (1 to 16; default: the "
                    "FtpConnections setting, 4)")
        ->type_name("N")
        ->check(CLI::Range(1, kMaxFtpConnections));

    const ProfileCli profiles(app);
    app.footer(kUsage);

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& error) {
        const int status = app.exit(error);
        // --help and --version end successfully; every usage error is a failed call.
        return status == 0 ? kExitDone : kExitFailed;
    }

    if (!options.tlsFingerprint.empty() &&
        ftp::normaliseFingerprint(options.tlsFingerprint).empty()) {
        std::cerr << "--tls-fingerprint must be the 64 hex digits of a SHA-256 fingerprint "
                     "(colons and case do not matter), not \""
                  << options.tlsFingerprint << "\"\n";
        return kExitFailed;
    }
    if (connections->parsed()) {
        if (const auto status = connectionEdits.run(options, std::cin, std::cout, std::cerr)) {
            return *status;
        }
        return runConnectionsCommand(options, std::cout, std::cerr);
    }
    if (const auto status = profiles.run(options, std::cout, std::cerr)) {
        return *status;
    }
    if (run->parsed()) {
        return runRunCommand(options, runFile, dryRun, std::cout, std::cerr);
    }
    if (ls->parsed()) {
        return runLsCommand(options, lsLocation, std::cout, std::cerr);
    }
    return kExitFailed;
}
