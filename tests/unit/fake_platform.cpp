#include "fake_platform.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <cctype>
#include <cstdlib>
#include <cstring>

#include "split_path.h"
#include "worker/settings.h"
#include "worker/text.h"
#include "worker/worker.h"

namespace fake {

State state;

std::mutex g_stallMutex;
std::condition_variable g_stallChanged;
bool g_stalled, g_released;

namespace {
std::string Key(const std::string& file, const char* section, const char* key) {
    std::string k = file + "|" + section + "/" + key;
    std::transform(k.begin(), k.end(), k.begin(), [](unsigned char c) { return std::tolower(c); });
    return k;
}

// Handles handed out by the fake: addresses of these tags.
char kEventTag, kNowTag, kFileTag, kRootTag, kRequestTag, kHeldTag;
std::string g_held;  // the name of the file HoldFile holds
}  // namespace

// The scripted answer to the request under way.
const Response* current = &state.response;

void Reset() {
    // Events left by a worker that never ran would outlive the test.
    CloseWorkerEvents();
    state = State();
    g_released = false;
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

std::string StatusLine() { return StatusLineOf("lastlog"); }

void SetSectionSetting(const std::string& section, const std::string& key, const std::string& value) {
    state.profile[Key(g_settingsPath, section.c_str(), key.c_str())] = value;
}

std::string StatusLineOf(const std::string& key) {
    auto it = state.profile.find(Key(g_settingsPath, "log", key.c_str()));
    return it == state.profile.end() ? "" : it->second;
}


// Holds the calling (worker) thread until the test releases it.
void Stall() {
    std::unique_lock<std::mutex> lock(g_stallMutex);
    g_stalled = true;
    g_stallChanged.notify_all();
    g_stallChanged.wait(lock, [] { return g_released; });
    g_stalled = false;
}

bool WaitUntilStalled() {
    std::unique_lock<std::mutex> lock(g_stallMutex);
    return g_stallChanged.wait_for(lock, std::chrono::seconds(10), [] { return g_stalled; });
}

bool Stalled() {
    std::lock_guard<std::mutex> lock(g_stallMutex);
    return g_stalled;
}

void ReleaseStall() {
    std::lock_guard<std::mutex> lock(g_stallMutex);
    g_released = true;
    g_stallChanged.notify_all();
}

}  // namespace fake

namespace platform {
using fake::current;
using fake::state;

Handle CreateManualResetEvent() {
    if (state.eventCreationFails) {
        state.lastError = 1450;  // ERROR_NO_SYSTEM_RESOURCES
        return nullptr;
    }
    ++state.liveEvents;
    return &fake::kEventTag;
}
Handle CreateAutoResetEvent() {
    ++state.liveEvents;
    return &fake::kNowTag;
}
bool SetEventSignal(Handle event) {
    if (event == &fake::kNowTag) {
        state.nowPending = true;
    } else {
        state.timeoutsBeforeStop = 0;
    }
    return true;
}
uint32_t WaitForEvent(Handle, uint32_t milliseconds) {
    ++state.waits;
    if (state.timeoutsBeforeStop <= 0) return kWaitObject0;
    --state.timeoutsBeforeStop;
    state.tick += milliseconds;
    return kWaitTimeout;
}
// The stop first, then an update asked for, then the tick.
uint32_t WaitForWork(Handle stop, Handle, uint32_t milliseconds) {
    if (state.timeoutsBeforeStop > 0 && state.nowPending) {
        ++state.waits;
        state.nowPending = false;
        return kWaitObject0 + 1;
    }
    return WaitForEvent(stop, milliseconds);
}
void CloseKernelHandle(Handle handle) {
    if (handle == &fake::kHeldTag) state.heldOpen.erase(fake::g_held);
    else if (handle) --state.liveEvents;
}
uint32_t TickCount() { return state.tick; }
uint32_t LastError() { return state.lastError; }
void SleepMs(uint32_t) {}
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

void ProfileSectionNames(char* buffer, uint32_t size, const char* file) {
    std::string names;
    const std::string prefix = fake::Key(file, "", "").substr(0, std::strlen(file) + 1);
    std::string last;
    for (const auto& entry : state.profile) {
        if (entry.first.compare(0, prefix.size(), prefix) != 0) continue;
        const std::string section = entry.first.substr(prefix.size(), entry.first.find('/', prefix.size()) - prefix.size());
        if (section == last) continue;
        last = section;
        if (names.size() + section.size() + 2 > size) break;
        names += section;
        names += '\0';
    }
    names += '\0';
    std::memcpy(buffer, names.data(), names.size());
}

bool WriteProfileText(const char* section, const char* key, const char* value,
                      const char* file) {
    state.profile[fake::Key(file, section, key)] = value;
    if (std::strcmp(key, "lastlog") == 0) state.statusLines.push_back(value);
    return true;
}

int ReportEventToLog(uint16_t type, uint32_t messageId, const char* const* strings,
                     uint16_t count) {
    if (state.eventLogFails) return 0;
    state.events.emplace_back(type, messageId);
    state.eventStrings.emplace_back(strings, strings + count);
    return 1;
}

namespace {
std::string g_openCapture;  // the path of the capture file open
}  // namespace

Handle OpenCaptureFile(const char* path) {
    if (state.captureLocked) return nullptr;
    ++state.captureOpens;
    ++state.openFiles;
    g_openCapture = path;
    state.files[path].clear();
    return &fake::kFileTag;
}

bool WriteCaptureFile(Handle, const void* data, uint32_t size) {
    if (state.captureWrites++ == state.failingWrite) return false;
    state.files[g_openCapture].append(static_cast<const char*>(data), size);
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
    if (current->stallAt == -1) fake::Stall();
    if (state.duringRequest) state.duringRequest();
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
    if (index == current->stallAt) fake::Stall();
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

bool BodyComplete(Handle, uint64_t received) {
    return current->declaredLength < 0 || received >= static_cast<uint64_t>(current->declaredLength);
}

void CloseInternetHandle(Handle) { --state.openInternetHandles; }

namespace {
// Cut as the real calls' texts are: on a whole character.
size_t Cut(const std::string& text, char* buffer, size_t size) {
    return CopyCut(buffer, size, text.data(), text.size());
}
}  // namespace

size_t InternetErrorMessage(uint32_t error, char* buffer, size_t size) {
    auto it = state.errorMessages.find(error);
    return it == state.errorMessages.end() ? 0 : Cut(it->second, buffer, size);
}

size_t InternetLastResponseText(char* buffer, size_t size) {
    return Cut(state.lastResponseText, buffer, size);
}

size_t LocalIpv6Addresses(LocalIpv6Address* list, size_t max) {
    const size_t count = std::min(state.localIpv6.size(), max);
    std::copy_n(state.localIpv6.begin(), count, list);
    return count;
}

namespace {
std::shared_ptr<fake::State::File> Found(const char* path) {
    auto it = state.disk.find(path);
    return it == state.disk.end() ? nullptr : it->second;
}
void Step(const char* operation, const char* path) {
    if (state.onStep) state.onStep(std::string(operation) + " " + path);
}
}  // namespace

FileRead ReadWholeFile(const char* path, uint32_t limit, char** bytes, uint32_t* size) {
    Step("read", path);
    *bytes = nullptr;
    *size = 0;
    const auto file = Found(path);
    if (!file) return FileRead::Missing;
    if (file->unreadable) state.lastError = 5;
    if (file->text.size() > limit || file->unreadable) return FileRead::Failed;
    *bytes = static_cast<char*>(std::malloc(file->text.size() + 1));
    std::memcpy(*bytes, file->text.data(), file->text.size());
    *size = static_cast<uint32_t>(file->text.size());
    return FileRead::Read;
}

Handle HoldFile(const char* path) {
    Step("hold", path);
    fake::g_held = path;
    return Found(path) && state.heldOpen.insert(path).second ? &fake::kHeldTag : nullptr;
}

bool RenameHeldFile(Handle, const char* to, bool replace) {
    Step("rename", to);
    state.lastError = kNameTaken;
    if (!replace && state.disk.count(to)) return false;
    state.disk[to] = Found(fake::g_held.c_str());
    state.disk.erase(fake::g_held);
    state.heldOpen.erase(fake::g_held);
    return state.heldOpen.insert(fake::g_held = to).second;
}

bool WriteFileLike(const char* path, const char* like, const void* data, uint32_t size) {
    Step("write", path);
    const auto model = Found(like);
    if ((model && model->readOnly) || size > state.freeBytes) return false;
    auto file = std::make_shared<fake::State::File>();
    file->text.assign(static_cast<const char*>(data), size);
    file->list = model ? model->list : "private";
    state.disk[path] = file;
    return true;
}

bool MoveFileTo(const char* from, const char* to) {
    Step("move", to);
    const auto file = Found(from);
    if (!file || state.heldOpen.count(from) || state.disk.count(to)) return false;
    state.disk.erase(from);
    state.disk[to] = file;
    return true;
}

bool RemoveFile(const char* path) {
    Step("remove", path);
    return !state.heldOpen.count(path) && state.disk.erase(path) > 0;
}

uint32_t ProcessId() { return 4242; }

char* ReadAccessList(const char* path, uint32_t* size) {
    const auto it = state.accessLists.find(path);
    if (it == state.accessLists.end()) return nullptr;
    *size = static_cast<uint32_t>(it->second.size());
    return static_cast<char*>(std::memcpy(std::malloc(it->second.size()), it->second.data(),
                                          it->second.size()));
}

bool MakeFilePrivate(const char* path) {
    state.madePrivate.push_back(path);
    if (const auto file = Found(path)) file->list = "private";
    return true;
}

}  // namespace platform
