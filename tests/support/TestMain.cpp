#include <gtest/gtest.h>

#include <csignal>

int main(int argc, char** argv) {
    // A server that closes its end while we write must give an error, not end the test run.
    std::signal(SIGPIPE, SIG_IGN);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
