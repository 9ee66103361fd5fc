// Locations of the files and the settings as the worker reads them.
#include <gtest/gtest.h>

#include <string>

#include "fake_platform.h"
#include "worker/settings.h"

using fake::state;

namespace {

class Settings : public ::testing::Test {
protected:
    void SetUp() override { fake::Reset(); }
};

TEST_F(Settings, FilesLieBesideTheProgram) {
    state.modulePath = "C:\\WINDOWS\\system32\\pelkor.exe";
    ComputeLocations();
    EXPECT_STREQ(g_settingsPath, "C:\\WINDOWS\\system32\\pelkor.ini");
    EXPECT_STREQ(g_capturePath, "C:\\WINDOWS\\system32\\pelkor.txt");

    state.modulePath = "D:\\my.tools\\v1.2\\pelkor.service.exe";
    ComputeLocations();
    EXPECT_STREQ(g_settingsPath, "D:\\my.tools\\v1.2\\pelkor.ini");
}

// The longest module path the call gives (259 bytes) keeps its whole
// folder in both paths; a longer one arrives cut by the call.
TEST_F(Settings, TheLongestModulePathKeepsItsFolderWhole) {
    const std::string folder = "C:\\" + std::string(250, 'd') + "\\";
    state.modulePath = folder + "p.exe";
    ASSERT_EQ(state.modulePath.size(), platform::kModulePathSize - 1);
    ComputeLocations();
    EXPECT_EQ(std::string(g_settingsPath), folder + "pelkor.ini");
    EXPECT_EQ(std::string(g_capturePath), folder + "pelkor.txt");

    state.modulePath = folder + "pelkor.exe";  // the call keeps only "pelk" of the name
    ComputeLocations();
    EXPECT_EQ(std::string(g_settingsPath), folder + "pelkor.ini");
}

TEST_F(Settings, MissingFileGivesTheDefaults) {
    ReadSettings();
    EXPECT_EQ(g_intervalMs, 600000u);
    EXPECT_EQ(g_captureFlag, 0u);
    EXPECT_EQ(g_timeoutMs, 10000u);
    EXPECT_STREQ(g_currentUrl, "");
}

TEST_F(Settings, SecondsBecomeMillisecondsAndAUrlLongerThan1023BytesIsSeenAsSuch) {
    fake::SetSetting("interval", "20");
    fake::SetSetting("log", "2");
    fake::SetSetting("timeout", "1");
    fake::SetSetting("url", std::string(1100, 'u'));
    ReadSettings();
    EXPECT_EQ(g_intervalMs, 20000u);
    EXPECT_EQ(g_captureFlag, 2u);
    EXPECT_EQ(g_timeoutMs, 1000u);
    EXPECT_TRUE(IsOverlong(g_currentUrl));
    fake::SetSetting("url", std::string(1023, 'u'));
    ReadSettings();
    EXPECT_FALSE(IsOverlong(g_currentUrl));

    // The last value that fits, then saturation instead of a wrap.
    fake::SetSetting("interval", "4294967");
    fake::SetSetting("timeout", "4294968");
    ReadSettings();
    EXPECT_EQ(g_intervalMs, 4294967000u);
    EXPECT_EQ(g_timeoutMs, 4294967295u);
}

// A record's own section wins; what it lacks comes from [setting], but
// for the URL, which is the record's alone.
TEST_F(Settings, ARecordTakesWhatItsSectionLacksFromTheFirst) {
    fake::SetSetting("url", "http://one.example/");
    fake::SetSetting("interval", "300");
    fake::SetSetting("user", "alice");
    fake::SetSetting("checkurl", "http://ip.example/");
    fake::SetSectionSetting("setting2", "interval", "60");
    fake::SetSectionSetting("setting2", "checkurl", "");
    fake::SetSectionSetting("setting9", "user", "bob");
    fake::SetSectionSetting("setting10", "url", "http://ten.example/");
    fake::SetSectionSetting("Setting1", "url", "http://first.example/");
    EXPECT_EQ(DnsRecordsPresent(), (1u << 1) | (1u << 2) | (1u << 9));

    ReadDnsRecordSettings(2);
    EXPECT_STREQ(g_currentUrl, "");
    EXPECT_EQ(g_intervalMs, 60000u);
    EXPECT_STREQ(g_user, "alice");
    EXPECT_STREQ(g_checkUrl, "");  // given empty: none, not the first record's
    ReadDnsRecordSettings(9);
    EXPECT_EQ(g_intervalMs, 300000u);
    EXPECT_STREQ(g_user, "bob");
    EXPECT_STREQ(g_checkUrl, "http://ip.example/");
    ReadSettings();
    EXPECT_STREQ(g_currentUrl, "http://one.example/");
    EXPECT_STREQ(g_user, "alice");
}

}  // namespace
