#include "fake_platform.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>

#include "split_path.h"
#include "worker/settings.h"
#include "worker/text.h"
#include "worker/worker.h"

namespace fake {

State state;

namespace {
std::string Key(const std::string& file, const char* section, const char* key) {
    std::string k = file + "|" + section + "/" + key;
    std::transform(k.begin(), k.end(), k.begin(), [](unsigned char c) { return std::tolower(c); });
    return k;
}

// Handles handed out by the fake: addresses of these tags.
char kEventTag, kFileTag, kRootTag, kRequestTag;
}  // namespace

// The scripted answer to the request under way.
const Response* current = &state.response;

void Reset() {
    // A stop event left by a worker that never ran would outlive the test.
    CloseWorkerStopEvent();
    state = State();
    current = &state.response;
    ResetWorkerState();
    ComputeLocations();
}

void SetSetting(const std::string& key, const std::string& value) {
    state.profile[Key(g_settingsPath, "setting", key.c_str())] = value;
}

void RemoveSetting(const std::string& key) {
    state.profile.erase(Key(g_settingsPath, "setting", key.c_str()));
}

std::string StatusLine() {
    auto it = state.profile.find(Key(g_settingsPath, "log", "lastlog"));
    return it == state.profile.end() ? "" : it->second;
}

}  // namespace fake

namespace platform {
using fake::current;
using fake::state;

Handle CreateManualResetEvent() {
    if (state.eventCreationFails) return nullptr;
    ++state.liveEvents;
    return &fake::kEventTag;
}
bool SetEventSignal(Handle) {
    state.timeoutsBeforeStop = 0;
    return true;
}
uint32_t WaitForEvent(Handle, uint32_t milliseconds) {
    ++state.waits;
    if (state.timeoutsBeforeStop <= 0) return kWaitObject0;
    --state.timeoutsBeforeStop;
    state.tick += milliseconds;
    return kWaitTimeout;
}
void CloseKernelHandle(Handle handle) {
    if (handle) --state.liveEvents;
}
uint32_t TickCount() { return state.tick; }
LocalTime CurrentLocalTime() { return state.now; }

// Cut like the real call: at the buffer's size less one.
void ModuleFileName(char (&path)[kModulePathSize]) {
    CopyCut(path, sizeof path, state.modulePath.data(), state.modulePath.size());
}

void SplitPath(const char* path, SplitPathParts* parts) {
    const fake::PathParts split = fake::SplitWindowsPath(path);
    CopyCut(parts->drive, sizeof parts->drive, split.drive.data(), split.drive.size());
    CopyCut(parts->directory, sizeof parts->directory, split.directory.data(), split.directory.size());
    CopyCut(parts->name, sizeof parts->name, split.name.data(), split.name.size());
    CopyCut(parts->extension, sizeof parts->extension, split.extension.data(), split.extension.size());
}

int ProfileInt(const char* section, const char* key, int fallback, const char* file) {
    auto it = state.profile.find(fake::Key(file, section, key));
    if (it == state.profile.end() || it->second.empty()) return fallback;
    return std::atoi(it->second.c_str());
}

void ProfileText(const char* section, const char* key, const char* fallback, char* buffer,
                 uint32_t size, const char* file) {
    auto it = state.profile.find(fake::Key(file, section, key));
    const std::string value = it == state.profile.end() ? fallback : it->second;
    const size_t length = std::min<size_t>(value.size(), size - 1);
    std::memcpy(buffer, value.data(), length);
    buffer[length] = '\0';
}

bool WriteProfileText(const char* section, const char* key, const char* value,
                      const char* file) {
    state.profile[fake::Key(file, section, key)] = value;
    if (std::strcmp(key, "lastlog") == 0) state.statusLines.push_back(value);
    return true;
}

int ReportEventToLog(uint16_t type, uint32_t messageId) {
    if (state.eventLogFails) return 0;
    state.events.emplace_back(type, messageId);
    return 1;
}

Handle OpenCaptureFile(const char* path) {
    if (state.captureLocked) return nullptr;
    ++state.captureOpens;
    ++state.openFiles;
    state.files[path].clear();
    return &fake::kFileTag;
}

bool WriteCaptureFile(Handle, const void* data, uint32_t size) {
    if (state.captureWrites++ == state.failingWrite) return false;
    state.files[g_capturePath].append(static_cast<const char*>(data), size);
    return true;
}

bool CloseCaptureFile(Handle) {
    --state.openFiles;
    return true;
}

Handle InternetRoot(const char* agent, ProxyMode mode, const char* proxy, uint32_t* error) {
    state.agent = agent ? agent : "(none)";
    state.proxyMode = mode;
    state.proxy = mode == ProxyMode::Named ? proxy : "";
    if (state.response.rootFails) {
        *error = state.response.rootError;
        return nullptr;
    }
    ++state.openInternetHandles;
    return &fake::kRootTag;
}

void SetInternetTimeout(Handle, uint32_t option, uint32_t milliseconds) {
    state.timeouts.emplace_back(option, milliseconds);
}

OpenOutcome OpenInternetUrl(Handle, const char* url, const char* headers, Handle* request,
                            uint32_t* error) {
    state.requestedUrls.push_back(url);
    state.requestHeaders.push_back(headers ? headers : "");
    auto scripted = state.responsesByUrl.find(url);
    current = scripted == state.responsesByUrl.end() ? &state.response : &scripted->second;
    state.reads = 0;
    state.tick += state.tickPerRequest;
    switch (current->outcome) {
        case OpenOutcome::Response:
            ++state.openInternetHandles;
            *request = &fake::kRequestTag;
            break;
        case OpenOutcome::Failure:
            *error = current->openError;
            break;
        case OpenOutcome::NoResponse:
            break;
    }
    return current->outcome;
}

bool QueryHttpStatus(Handle, uint32_t* status) {
    if (current->statusQueryFails) return false;
    *status = current->status;
    return true;
}

bool ReadInternetChunk(Handle, void* buffer, uint32_t size, uint32_t* read, uint32_t* error) {
    const int index = state.reads++;
    if (index == current->failingRead) {
        *error = current->readError;
        return false;
    }
    *read = 0;
    if (index < static_cast<int>(current->chunks.size())) {
        const std::string& chunk = current->chunks[index];
        *read = static_cast<uint32_t>(std::min<size_t>(chunk.size(), size));
        std::memcpy(buffer, chunk.data(), *read);
    }
    return true;
}

void CloseInternetHandle(Handle) { --state.openInternetHandles; }

namespace {
size_t Cut(const std::string& text, char* buffer, size_t size) {
    const size_t length = std::min(text.size(), size - 1);
    std::memcpy(buffer, text.data(), length);
    buffer[length] = '\0';
    return length;
}
}  // namespace

size_t InternetErrorMessage(uint32_t error, char* buffer, size_t size) {
    auto it = state.errorMessages.find(error);
    return it == state.errorMessages.end() ? 0 : Cut(it->second, buffer, size);
}

size_t InternetLastResponseText(char* buffer, size_t size) {
    return Cut(state.lastResponseText, buffer, size);
}

}  // namespace platform
