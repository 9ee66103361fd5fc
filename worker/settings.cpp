// Locations of the settings and capture files beside the program, and the
// four settings re-read at every tick.
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

void WriteStatusLine(const char* line) {
    platform::WriteProfileText(kLogSection, "lastlog", line, g_settingsPath);
}
