#include <csignal>
#include <cstdio>
#include <string_view>

#include "app/gui/KelvaneApplication.h"

namespace {

// The same layout as kelvane-cli's help, so that the manual pages are checked against both alike.
constexpr const char* kHelp =
    "The Kelvane desktop program: keeps a web site on an FTP server in step with a local folder "
    "tree.\n"
    "Usage: kelvane [OPTIONS] [FILE]\n"
    "\n"
    "Positionals:\n"
    "  FILE                        A profile (.kvp) or batch (.kvb) to open. A profile with Auto\n"
    "                              Start set starts its synchronisation; a batch always runs.\n"
    "\n"
    "Options:\n"
    "  -h,--help                   Print this help message and exit\n"
    "  --version                   Display program version information and exit\n"
    "\n"
    "Qt's own options (for example -platform offscreen) are taken as well; any other word that\n"
    "starts with - is ignored. kelvane-cli runs the same synchronisations without a window.\n";

// --help and --version answer on the terminal and open no window, so that they work where no
// display is. Every other switch stays without effect, as it always has.
bool answeredOnTerminal(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        const std::string_view word = argv[i];
        if (word == "--help" || word == "-h") {
            std::fputs(kHelp, stdout);
            return true;
        }
        if (word == "--version") {
            std::puts("kelvane " KELVANE_VERSION);
            return true;
        }
    }
    return false;
}

}  // namespace

// kelvane [FILE]: the desktop program, opening a profile (.kvp) or batch (.kvb) when one is named.
int main(int argc, char** argv) {
    if (answeredOnTerminal(argc, argv)) {
        return 0;
    }
    // A server that closes its end while we write must give an error, not end the program.
    std::signal(SIGPIPE, SIG_IGN);
    KelvaneApplication application(argc, argv);
    return application.run();
}
