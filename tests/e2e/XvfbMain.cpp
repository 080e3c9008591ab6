#include <gtest/gtest.h>

#include <QApplication>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>

#include "support/ChildProcess.h"
#include "support/TempFolder.h"

// The X11 platform's D-Bus connection keeps a buffer until the process ends; LeakSanitizer (in
// make test) reads this list of known leaks at start.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libdbus-1.so\n";
}

// The end-to-end tests show the real window on a real X server: an Xvfb of their own on a free
// display (Xvfb picks it and says which), so that they run beside each other and on a machine
// without a desktop. Listing the tests needs no display.
int main(int argc, char** argv) {
    std::signal(SIGPIPE, SIG_IGN);
    bool listing = false;
    for (int i = 1; i < argc; ++i) {
        listing = listing || std::strcmp(argv[i], "--gtest_list_tests") == 0;
    }
    ::testing::InitGoogleTest(&argc, argv);
    if (listing) {
        return RUN_ALL_TESTS();
    }

    testsupport::TempFolder logs("kelvane-xvfb");
    testsupport::ChildProcess xvfb;
    if (!xvfb.start({"/usr/bin/Xvfb", "-displayfd", "1", "-screen", "0", "1280x1024x24",
                     "-nolisten", "tcp", "-noreset"},
                    logs.path() / "xvfb.log", true)) {
        std::fprintf(stderr, "could not start Xvfb: %s\n", xvfb.error().c_str());
        return 1;
    }
    const std::optional<std::string> display = xvfb.readLine(std::chrono::seconds(20));
    if (!display || display->empty()) {
        std::fprintf(stderr, "Xvfb did not name its display: %s\n",
                     testsupport::readFile(logs.path() / "xvfb.log").c_str());
        return 1;
    }
    qputenv("DISPLAY", QByteArray(":") + QByteArray::fromStdString(*display));
    qputenv("QT_QPA_PLATFORM", "xcb");
    QApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
