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
char g_okBody[kShortSettingSize];
uint32_t g_retryMs;
char g_checkUrl[kUrlBufferSize];
uint32_t g_forceMs;
char g_agent[kShortSettingSize];
char g_user[kShortSettingSize];
char g_password[kShortSettingSize];
char g_proxy[kShortSettingSize];
SettingNumbers g_settingNumbers;

void ComputeLocations() {
    // The directory part ends in a backslash, so plain concatenation.
    const platform::SplitPathParts own = platform::SplitPath(platform::ModuleFileName());
    g_settingsPath = own.drive + own.directory + kSettingsFileName;
    g_capturePath = own.drive + own.directory + kCaptureFileName;
}

namespace {
int Number(const char* key, int fallback) {
    return platform::ProfileInt(kSettingSection, key, fallback, g_settingsPath);
}
void Text(const char* key, char* buffer, uint32_t size) {
    platform::ProfileText(kSettingSection, key, "", buffer, size, g_settingsPath);
}
}  // namespace

void ReadSettings() {
    SettingNumbers& n = g_settingNumbers;
    n.interval = Number("interval", kDefaultIntervalSeconds);
    n.log = Number("log", kDefaultCapture);
    n.timeout = Number("timeout", kDefaultTimeoutSeconds);
    Text("url", g_currentUrl, kUrlBufferSize);
    Text("okbody", g_okBody, kShortSettingSize);
    n.retry = Number("retry", 0);
    Text("checkurl", g_checkUrl, kUrlBufferSize);
    n.force = Number("force", kDefaultForceDays);
    Text("agent", g_agent, kShortSettingSize);
    Text("user", g_user, kShortSettingSize);
    Text("password", g_password, kShortSettingSize);
    Text("proxy", g_proxy, kShortSettingSize);

    // Seconds become milliseconds in 32 bits; a huge value wraps, as the
    // settings file has always been read.
    g_intervalMs = static_cast<uint32_t>(n.interval) * 1000u;
    g_captureFlag = static_cast<uint32_t>(n.log);
    g_timeoutMs = static_cast<uint32_t>(n.timeout) * 1000u;
    g_retryMs = SaturatingProduct(static_cast<uint32_t>(n.retry), 1000);
    g_forceMs = SaturatingProduct(static_cast<uint32_t>(n.force), kMsPerDay);
}

void WriteStatusLine(const std::string& line) {
    platform::WriteProfileText(kLogSection, "lastlog", line.c_str(), g_settingsPath);
}
