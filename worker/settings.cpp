// Locations of the settings and capture files beside the program, and the
// settings re-read at every tick.
#include "worker/settings.h"

#include <cstring>

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
char g_currentUrl[kUrlReadSize];
uint32_t g_intervalMs;
uint32_t g_captureFlag;
uint32_t g_timeoutMs;
char g_okBody[kShortSettingReadSize];
uint32_t g_retryMs;
char g_checkUrl[kUrlReadSize];
uint32_t g_forceMs;
char g_agent[kShortSettingReadSize];
char g_user[kShortSettingReadSize];
char g_password[kShortSettingReadSize];
char g_proxy[kShortSettingSize];
int g_family;
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

void CapturePathFor(int record, char (&path)[kLocationSize]) {
    CopyCut(path, sizeof path, g_capturePath, std::strlen(g_capturePath));
    if (record <= 1) return;
    // Both names lie in the program's folder: replace "pelkor.txt".
    const char name[] = {'p', 'e', 'l', 'k', 'o', 'r', static_cast<char>('0' + record), '\0'};
    path[std::strlen(path) - (sizeof kCaptureFileName - 1)] = '\0';
    AppendCut(path, sizeof path, name);
    AppendCut(path, sizeof path, ".txt");
}

void DnsRecordSection(int record, char (&section)[16]) {
    section[0] = '\0';
    AppendCut(section, sizeof section, kSettingSection);
    if (record > 1) AppendDecimal(section, sizeof section, record, 1);
}

uint32_t DnsRecordsPresent() {
    // Room for some two hundred section names: far more than a settings
    // file has. (Below a page, so the frame needs no stack probe.)
    char names[2048];
    platform::ProfileSectionNames(names, sizeof names, g_settingsPath);
    uint32_t present = 1u << 1;
    for (const char* name = names; *name; name += std::strlen(name) + 1) {
        for (int record = 2; record <= kDnsRecordCount; ++record) {
            char section[16];
            DnsRecordSection(record, section);
            if (EqualsIgnoringAsciiCase(name, section)) present |= 1u << record;
        }
    }
    return present;
}

namespace {
// What a key absent from a record's own section reads as: no value a user
// writes, since a line cannot hold this byte alone.
const char kAbsent[] = "\x01";

char g_section[16];
int g_readingDnsRecord;

// A number of record n: its own section's, else [setting]'s, else fallback.
int Number(const char* key, int fallback) {
    const int shared = platform::ProfileInt(kSettingSection, key, fallback, g_settingsPath);
    if (g_readingDnsRecord == 1) return shared;
    return platform::ProfileInt(g_section, key, shared, g_settingsPath);
}
void Text(const char* key, char* buffer, uint32_t size) {
    if (g_readingDnsRecord > 1) {
        platform::ProfileText(g_section, key, kAbsent, buffer, size, g_settingsPath);
        if (std::strcmp(buffer, kAbsent) != 0) return;
    }
    platform::ProfileText(kSettingSection, key, "", buffer, size, g_settingsPath);
}
}  // namespace

void ReadSettings() { ReadDnsRecordSettings(1); }

void ReadDnsRecordSettings(int record) {
    g_readingDnsRecord = record;
    DnsRecordSection(record, g_section);
    SettingNumbers& n = g_settingNumbers;
    n.interval = Number("interval", kDefaultIntervalSeconds);
    n.log = Number("log", kDefaultCapture);
    n.timeout = Number("timeout", kDefaultTimeoutSeconds);
    // The URL is the record's own: a section without one has none.
    platform::ProfileText(g_section, "url", "", g_currentUrl, kUrlReadSize, g_settingsPath);
    Text("okbody", g_okBody, kShortSettingReadSize);
    n.retry = Number("retry", 0);
    Text("checkurl", g_checkUrl, kUrlReadSize);
    n.force = Number("force", kDefaultForceDays);
    Text("agent", g_agent, kShortSettingReadSize);
    Text("user", g_user, kShortSettingReadSize);
    Text("password", g_password, kShortSettingReadSize);
    Text("proxy", g_proxy, kShortSettingSize);
    n.family = Number("family", 0);

    // Seconds (and days) as 32-bit milliseconds. A value too large
    // saturates: wrapping would turn a long interval into a request at
    // every tick.
    g_intervalMs = SaturatingProduct(static_cast<uint32_t>(n.interval), 1000);
    g_captureFlag = static_cast<uint32_t>(n.log);
    g_timeoutMs = SaturatingProduct(static_cast<uint32_t>(n.timeout), 1000);
    g_retryMs = SaturatingProduct(static_cast<uint32_t>(n.retry), 1000);
    g_forceMs = SaturatingProduct(static_cast<uint32_t>(n.force), kMsPerDay);
    g_family = n.family;
}

bool IsOverlong(const char* url) { return std::strlen(url) >= kUrlBufferSize; }

const char* OverlongSetting() {
    if (std::strlen(g_okBody) >= kShortSettingSize) return "okbody";
    if (std::strlen(g_agent) >= kShortSettingSize) return "agent";
    if (std::strlen(g_user) >= kShortSettingSize) return "user";
    if (std::strlen(g_password) >= kShortSettingSize) return "password";
    return nullptr;
}

namespace {
void StatusLineKey(int record, char (&key)[16]) {
    std::strcpy(key, "lastlog");
    if (record > 1) AppendDecimal(key, sizeof key, record, 1);
}
}  // namespace

void WriteStatusLine(int record, const char* line) {
    char key[16];
    StatusLineKey(record, key);
    platform::WriteProfileText(kLogSection, key, line, g_settingsPath);
}

void ReadStatusLine(int record, char (&line)[kStatusLineSize]) {
    char key[16];
    StatusLineKey(record, key);
    platform::ProfileText(kLogSection, key, "", line, sizeof line, g_settingsPath);
}
