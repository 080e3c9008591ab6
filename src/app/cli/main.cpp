#include <CLI/CLI.hpp>

#include <iostream>
#include <string>

#include "app/cli/CliOptions.h"
#include "app/cli/ConnectionsCommand.h"
#include "app/cli/LsCommand.h"
#include "app/cli/RunCommand.h"

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

    CLI::App* connections =
        app.add_subcommand("connections", "List the FTP connections (passwords are never shown)");
    std::string lsLocation;
    CLI::App* ls = app.add_subcommand("ls", "List a folder on an FTP server");
    ls->add_option("location", lsLocation, "The folder, as FTP:NAME/PATH")
        ->required()
        ->type_name("FTP:NAME/PATH");

    std::string runFile;
    bool dryRun = false;
    CLI::App* run = app.add_subcommand(
        "run", "Synchronise a profile (.kvp) or run a batch (.kvb) with no one at the screen");
    run->add_option("file", runFile, "The profile or batch file")->required()->type_name("FILE");
    run->add_flag("--dry-run", dryRun, "Print the plan, one line per action, and change nothing");

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& error) {
        const int status = app.exit(error);
        // --help and --version end successfully; every usage error is a failed call.
        return status == 0 ? kExitDone : kExitFailed;
    }

    if (connections->parsed()) {
        return runConnectionsCommand(options, std::cout, std::cerr);
    }
    if (run->parsed()) {
        return runRunCommand(options, runFile, dryRun, std::cout, std::cerr);
    }
    if (ls->parsed()) {
        return runLsCommand(options, lsLocation, std::cout, std::cerr);
    }
    return kExitFailed;
}
