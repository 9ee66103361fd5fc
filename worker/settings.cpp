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

namespace {
// Seconds as 32-bit milliseconds. A value too large saturates: wrapping
// would turn a long interval into a request at every tick.
uint32_t SecondsToMilliseconds(int seconds) {
    const uint32_t value = static_cast<uint32_t>(seconds);
    constexpr uint32_t kLargest = UINT32_MAX / 1000u;
    return value > kLargest ? UINT32_MAX : value * 1000u;
}
}  // namespace

void ReadSettings() {
    g_intervalMs = SecondsToMilliseconds(
        platform::ProfileInt(kSettingSection, "interval", kDefaultIntervalSeconds, g_settingsPath));
    g_captureFlag = static_cast<uint32_t>(
        platform::ProfileInt(kSettingSection, "log", kDefaultCapture, g_settingsPath));
    g_timeoutMs = SecondsToMilliseconds(
        platform::ProfileInt(kSettingSection, "timeout", kDefaultTimeoutSeconds, g_settingsPath));
    platform::ProfileText(kSettingSection, "url", "", g_currentUrl, kUrlBufferSize,
                            g_settingsPath);
}

void WriteStatusLine(const std::string& line) {
    platform::WriteProfileText(kLogSection, "lastlog", line.c_str(), g_settingsPath);
}
