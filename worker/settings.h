// Where the settings and capture files live and what the worker last read
// from the settings file. Only the worker thread touches these.
#pragma once

#include <cstdint>

#include "worker/platform.h"

#include "worker/provider_rules.h"

constexpr uint32_t kUrlBufferSize = 1024;
constexpr uint32_t kShortestUrl = 5;  // a URL of 4 bytes or fewer is not set
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
extern char g_currentUrl[kUrlBufferSize];
extern uint32_t g_intervalMs;
extern uint32_t g_captureFlag;
extern uint32_t g_timeoutMs;

// Optional keys: absent, empty or 0, each leaves the request as it always was.
extern char g_okBody[kShortSettingSize];    // success only when the body holds it
extern uint32_t g_retryMs;                  // first retry after a failed update
extern char g_checkUrl[kUrlBufferSize];     // answers this machine's public address
extern uint32_t g_forceMs;                  // update after this long even unchanged
extern char g_agent[kShortSettingSize];     // User-Agent
extern char g_user[kShortSettingSize];      // Basic credentials of every update
extern char g_password[kShortSettingSize];
extern char g_proxy[kShortSettingSize];     // "", "direct" or a proxy list

// The numbers as the settings file gave them, before any conversion.
struct SettingNumbers {
    int interval, log, timeout, retry, force;
};
extern SettingNumbers g_settingNumbers;

// Both paths from the drive and folder of the running program.
void ComputeLocations();
// interval, log, timeout, url, then the optional keys, from section [setting].
void ReadSettings();
// lastlog in section [log]; the result is not examined.
void WriteStatusLine(const char* line);
