// The monitor's settings and the states it moves through without a server; closing idle
// connections and the keep-alive probe run against real servers in the integration tests.

#include "transfer/ConnectionMonitor.h"

#include <gtest/gtest.h>

#include <fstream>
#include <memory>

#include "profiles/SettingsStore.h"
#include "support/TempFolder.h"
#include "transfer/ConnectionDetails.h"

using testsupport::readFile;
using testsupport::TempFolder;

namespace {

// Puts the process-wide monitor back the way the test found it.
class ConnectionMonitorTest : public ::testing::Test {
  protected:
    void SetUp() override { saved_ = monitor(); }
    void TearDown() override {
        monitor().stop();
        monitor().timeoutEnabled = saved_.timeoutEnabled;
        monitor().idleLimit = saved_.idleLimit;
        monitor().keepAliveSeconds = saved_.keepAliveSeconds;
    }
    static ConnectionMonitor& monitor() { return connectionMonitor(); }

    ConnectionMonitor saved_;
    TempFolder temp_;
};

}  // namespace

TEST_F(ConnectionMonitorTest, MissingSettingsMeanTenMinutesOn) {
    ConnectionMonitor fresh;
    EXPECT_FALSE(fresh.timeoutEnabled);  // until loaded
    EXPECT_EQ(fresh.idleLimit, 10u);
    EXPECT_EQ(fresh.keepAliveSeconds, 60);

    FileSettingsStore store(temp_.path());
    fresh.load(store);
    EXPECT_TRUE(fresh.timeoutEnabled);
    EXPECT_EQ(fresh.idleLimit, 600u);
}

TEST_F(ConnectionMonitorTest, LoadsMinutesAsSecondsAndSavesWholeMinutes) {
    std::ofstream(temp_.path() / kSettingsFileName)
        << "IsFtpConnectionTimeout=dword:0\nFtpConnectionTimeout=dword:3\n";
    FileSettingsStore store(temp_.path());
    ConnectionMonitor loaded;
    loaded.load(store);
    EXPECT_FALSE(loaded.timeoutEnabled);
    EXPECT_EQ(loaded.idleLimit, 180u);

    loaded.timeoutEnabled = true;
    loaded.idleLimit = 150;  // two and a half minutes: written as 2
    loaded.save(store);
    EXPECT_EQ(store.readDword("IsFtpConnectionTimeout"), 1u);
    EXPECT_EQ(store.readDword("FtpConnectionTimeout"), 2u);

    // A limit too large for 32-bit seconds stays the largest one rather than wrapping round.
    store.writeDword("FtpConnectionTimeout", 0xFFFFFFFFu);
    loaded.load(store);
    EXPECT_EQ(loaded.idleLimit, 0xFFFFFFFFu);

    store.writeDword("FtpConnectionTimeout", 0);
    loaded.load(store);
    EXPECT_EQ(loaded.idleLimit, 0u);
}

TEST_F(ConnectionMonitorTest, AClosedOrVanishedConnectionJustEndsTheWatch) {
    EXPECT_TRUE(monitor().check());  // nothing watched

    auto closed = std::make_shared<ConnectionDetails>();
    monitor().timeoutEnabled = true;
    monitor().idleLimit = 0;
    monitor().start(*closed);
    EXPECT_TRUE(monitor().isActive());
    EXPECT_EQ(monitor().watched(), closed);
    EXPECT_EQ(monitor().idleSeconds(), 0);
    EXPECT_TRUE(monitor().check());  // not connected: nothing to close
    EXPECT_FALSE(monitor().isActive());

    monitor().start(*closed);
    closed.reset();
    EXPECT_EQ(monitor().watched(), nullptr);
    EXPECT_TRUE(monitor().check());
    EXPECT_FALSE(monitor().isActive());

    // Only a shared connection can be watched.
    ConnectionDetails unshared;
    monitor().start(unshared);
    EXPECT_EQ(monitor().watched(), nullptr);
    EXPECT_TRUE(monitor().check());
    EXPECT_FALSE(monitor().isActive());
}

TEST_F(ConnectionMonitorTest, ClosingAnotherConnectionKeepsTheWatch) {
    auto watched = std::make_shared<ConnectionDetails>();
    auto other = std::make_shared<ConnectionDetails>();
    monitor().start(*watched);
    other->disconnectFtp();
    EXPECT_TRUE(monitor().isActive());
    watched->disconnectFtp();
    EXPECT_FALSE(monitor().isActive());
}
