// Locations of the settings and capture files beside the program, and the
// settings re-read at every tick.
#include "worker/settings.h"

#include "worker/platform.h"
#include "worker/text.h"

const char kSettingsFileName[] = "pelkor.ini";
const char kCaptureFileName[] = "pelkor.txt";

namespace {
const char kSettingSection[] = "setting";
const char kLogSection[] = "log";
}  // namespace

char g_settingsPath[kLocationSize];
char g_capturePath[kLocationSize];
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

namespace {
// The directory part ends in a backslash, so plain concatenation. The
// buffer holds any folder the module path can have plus the file name, so
// the appends do not cut; were it ever too small, the path would be cut at
// the buffer's end (and name a file that does not exist), never overrun it.
void JoinLocation(const platform::SplitPathParts& own, const char* fileName,
                  char (&path)[kLocationSize]) {
    path[0] = '\0';
    AppendCut(path, sizeof path, own.drive);
    AppendCut(path, sizeof path, own.directory);
    AppendCut(path, sizeof path, fileName);
}
}  // namespace

void ComputeLocations() {
    char module[platform::kModulePathSize];
    platform::ModuleFileName(module);
    platform::SplitPathParts own;
    platform::SplitPath(module, &own);
    JoinLocation(own, kSettingsFileName, g_settingsPath);
    JoinLocation(own, kCaptureFileName, g_capturePath);
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

    // Seconds (and days) as 32-bit milliseconds. A value too large
    // saturates: wrapping would turn a long interval into a request at
    // every tick.
    g_intervalMs = SaturatingProduct(static_cast<uint32_t>(n.interval), 1000);
    g_captureFlag = static_cast<uint32_t>(n.log);
    g_timeoutMs = SaturatingProduct(static_cast<uint32_t>(n.timeout), 1000);
    g_retryMs = SaturatingProduct(static_cast<uint32_t>(n.retry), 1000);
    g_forceMs = SaturatingProduct(static_cast<uint32_t>(n.force), kMsPerDay);
}

void WriteStatusLine(const char* line) {
    platform::WriteProfileText(kLogSection, "lastlog", line, g_settingsPath);
}
