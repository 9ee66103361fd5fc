// Locations of the settings and capture files beside the program, and the
// four settings re-read at every tick.
#include "settings.h"

#include "platform.h"

const char kSettingsFileName[] = "pelkor.ini";
const char kCaptureFileName[] = "pelkor.txt";

namespace {
const char kSettingSection[] = "setting";
const char kLogSection[] = "log";
}  // namespace

std::string g_settingsPath;
std::string g_capturePath;
char g_currentUrl[kUrlBufferSize];
uint32_t g_intervalMs;
uint32_t g_captureFlag;
uint32_t g_timeoutMs;

void ComputeLocations() {
    // The directory part ends in a backslash, so plain concatenation.
    const platform::SplitPathParts own = platform::SplitPath(platform::ModuleFileName());
    g_settingsPath = own.drive + own.directory + kSettingsFileName;
    g_capturePath = own.drive + own.directory + kCaptureFileName;
}

void ReadSettings() {
    // Seconds become milliseconds in 32 bits; a huge value wraps, as the
    // settings file has always been read.
    g_intervalMs = static_cast<uint32_t>(
                       platform::ProfileInt(kSettingSection, "interval", kDefaultIntervalSeconds,
                                            g_settingsPath)) * 1000u;
    g_captureFlag = static_cast<uint32_t>(
        platform::ProfileInt(kSettingSection, "log", kDefaultCapture, g_settingsPath));
    g_timeoutMs = static_cast<uint32_t>(
                      platform::ProfileInt(kSettingSection, "timeout", kDefaultTimeoutSeconds,
                                           g_settingsPath)) * 1000u;
    platform::ProfileText(kSettingSection, "url", "", g_currentUrl, kUrlBufferSize,
                            g_settingsPath);
}

void WriteStatusLine(const std::string& line) {
    platform::WriteProfileText(kLogSection, "lastlog", line.c_str(), g_settingsPath);
}
