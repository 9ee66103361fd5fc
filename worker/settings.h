// Where the settings and capture files live and what the worker last read
// from the settings file. Only the worker thread touches these.
#pragma once

#include <cstdint>

#include "worker/messages.h"
#include "worker/platform.h"

#include "worker/provider_rules.h"

constexpr uint32_t kUrlBufferSize = 1024;
// A URL is read with one byte more than the longest one requested, so that
// a longer one is seen as such instead of being requested cut.
constexpr uint32_t kUrlReadSize = kUrlBufferSize + 1;
constexpr uint32_t kShortestUrl = 5;  // a URL of 4 bytes or fewer is not set
// Record 1 is section [setting]; records 2 to 9 are [setting2] ... [setting9].
constexpr int kDnsRecordCount = 9;
constexpr int kDefaultIntervalSeconds = 600;
constexpr int kDefaultCapture = 0;
constexpr int kDefaultTimeoutSeconds = 10;
constexpr int kDefaultForceDays = 28;  // counts only while checkurl is set
constexpr uint32_t kMsPerDay = 86400000;

extern const char kSettingsFileName[];  // "pelkor.ini"
extern const char kCaptureFileName[];   // "pelkor.txt"

// The program's drive and folder (less than kModulePathSize bytes) and the
// longer of the two file names always fit.
constexpr uint32_t kLocationSize = platform::kModulePathSize + 16;
static_assert(sizeof "pelkor.ini" <= 16 && sizeof "pelkor.txt" <= 16, "file names fit");

extern char g_settingsPath[kLocationSize];
extern char g_capturePath[kLocationSize];
extern char g_currentUrl[kUrlReadSize];
extern uint32_t g_intervalMs;
extern uint32_t g_captureFlag;
extern uint32_t g_timeoutMs;

// okbody, agent, user and password are read with one byte more than the
// longest value, so that a longer one is seen as such instead of being used
// cut (an account refused with no hint why).
constexpr size_t kShortSettingReadSize = kShortSettingSize + 1;

// Optional keys: absent, empty or 0, each leaves the request as it always was.
extern char g_okBody[kShortSettingReadSize];  // success only when the body holds it
extern uint32_t g_retryMs;                    // first retry after a failed update
extern char g_checkUrl[kUrlReadSize];         // up to four check URLs (or local6), blank-separated
extern uint32_t g_forceMs;                    // update after this long even unchanged
extern char g_agent[kShortSettingReadSize];   // User-Agent
extern char g_user[kShortSettingReadSize];    // Basic credentials of every update
extern char g_password[kShortSettingReadSize];
extern char g_proxy[kShortSettingSize];       // "", "direct" or a proxy list
extern int g_family;                          // 4 or 6: only that family's address counts

// The numbers as the settings file gave them, before any conversion.
struct SettingNumbers {
    int interval, log, timeout, retry, force, family;
};
extern SettingNumbers g_settingNumbers;

// Both paths from the drive and folder of the running program.
void ComputeLocations();
// Record n's capture file: pelkor.txt for record 1, pelkorN.txt for the others.
void CapturePathFor(int record, char (&path)[kLocationSize]);
// interval, log, timeout, url, then the optional keys, from section [setting].
void ReadSettings();
// The same for record n from its own section; a key other than url that the
// section lacks takes [setting]'s value.
void ReadDnsRecordSettings(int record);
// "setting" for record 1, "settingN" for the others.
void DnsRecordSection(int record, char (&section)[16]);
// Which records the settings file defines: bit n for [settingN], bit 1
// always (record 1 is there even without a file).
uint32_t DnsRecordsPresent();
// lastlog (record 1) or lastlogN in section [log]; the result is not examined.
void WriteStatusLine(int record, const char* line);
// That line as stored, empty when there is none; a longer one is cut.
void ReadStatusLine(int record, char (&line)[kStatusLineSize]);
// A URL (or check URL) too long to be requested whole.
bool IsOverlong(const char* url);
// The first of okbody, agent, user and password that is longer than the
// longest value, by its key, or null.
const char* OverlongSetting();
