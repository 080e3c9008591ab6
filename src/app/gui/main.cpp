#include <csignal>

#include "app/gui/KelvaneApplication.h"

// kelvane [FILE]: the desktop program, opening a profile (.kvp) or batch (.kvb) when one is named.
int main(int argc, char** argv) {
    // A server that closes its end while we write must give an error, not end the program.
    std::signal(SIGPIPE, SIG_IGN);
    KelvaneApplication application(argc, argv);
    return application.run();
}
