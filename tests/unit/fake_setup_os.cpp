#include "fake_setup_os.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>

namespace fakesetup {
State state;

namespace {
constexpr uint32_t kAlreadyExists = 183;
constexpr uint32_t kSharingViolation = 32;
uint32_t g_lastError;

struct OpenFile {
    std::string path;  // the file reached, whichever of its names was opened
    size_t position = 0;
    bool holding = false;
};

std::map<std::string, int> g_holds;  // our own holds, by file

bool Contains(const std::vector<std::string>& list, const std::string& item) {
    return std::find(list.begin(), list.end(), item) != list.end();
}

std::string Reached(const std::string& path) {
    const auto link = state.links.find(path);
    return link == state.links.end() ? path : link->second;
}

bool IsThere(const std::string& path) {
    return state.files.count(path) || Contains(state.folders, path);
}

setupos::File Fail(uint32_t error) {
    g_lastError = error;
    return nullptr;
}
}  // namespace

void Reset() {
    state = State();
    g_lastError = 0;
    g_holds.clear();
}
}  // namespace fakesetup

namespace setupos {
using fakesetup::OpenFile;
using fakesetup::state;

// Unlike Windows, nothing here protects the running file from being
// written: setup has to refuse it by itself.
File OpenOrCreateForWriting(const char* path, bool* existed) {
    const std::string file = fakesetup::Reached(path);
    if (fakesetup::Contains(state.unwritable, file) || fakesetup::Contains(state.folders, file)) {
        return fakesetup::Fail(5);
    }
    if (fakesetup::g_holds[file] > 0) return fakesetup::Fail(fakesetup::kSharingViolation);
    *existed = state.files.count(file) > 0;
    state.files[file];  // made when missing, kept as it is otherwise
    ++state.openFiles;
    return new OpenFile{file};
}

File CreateNewForWriting(const char* path) {
    const std::string file = fakesetup::Reached(path);
    if (fakesetup::IsThere(file)) return fakesetup::Fail(fakesetup::kAlreadyExists);
    state.freshPackage = file;
    bool existed = false;
    return OpenOrCreateForWriting(path, &existed);
}

File OpenForReading(const char* path) {
    const std::string file = fakesetup::Reached(path);
    if (!state.files.count(file) || fakesetup::Contains(state.unreadable, file)) {
        return fakesetup::Fail(2);
    }
    ++state.openFiles;
    return new OpenFile{file};
}

File HoldForReading(const char* path) {
    File file = OpenForReading(path);
    if (file) {
        static_cast<OpenFile*>(file)->holding = true;
        ++fakesetup::g_holds[static_cast<OpenFile*>(file)->path];
    }
    return file;
}

bool SeekTo(File file, uint32_t offset) {
    static_cast<OpenFile*>(file)->position = offset;
    return true;
}

bool ReadBlock(File file, void* buffer, uint32_t size, uint32_t* count) {
    OpenFile* f = static_cast<OpenFile*>(file);
    auto failing = state.readFailsAt.find(f->path);
    if (failing != state.readFailsAt.end() && f->position >= failing->second) return false;
    const std::string& content = state.files[f->path];
    *count = 0;
    if (f->position >= content.size()) return true;
    *count = static_cast<uint32_t>(std::min<size_t>(size, content.size() - f->position));
    std::memcpy(buffer, content.data() + f->position, *count);
    f->position += *count;
    return true;
}

bool WriteBlock(File file, const void* data, uint32_t size) {
    OpenFile* f = static_cast<OpenFile*>(file);
    if (size > state.diskSpace) return false;
    state.diskSpace -= size;
    std::string& content = state.files[f->path];
    if (content.size() < f->position) content.resize(f->position, '\0');  // the gap reads as zeros
    content.replace(f->position, std::min<size_t>(size, content.size() - f->position),
                    static_cast<const char*>(data), size);
    f->position += size;
    return true;
}

bool CutHere(File file) {
    OpenFile* f = static_cast<OpenFile*>(file);
    state.files[f->path].resize(f->position, '\0');
    return true;
}

bool CloseFile(File file) {
    OpenFile* f = static_cast<OpenFile*>(file);
    if (f->holding) --fakesetup::g_holds[f->path];
    delete f;
    --state.openFiles;
    return true;
}

bool MayBeSameFile(File file, const char* path) {
    const std::string other = fakesetup::Reached(path);
    if (!fakesetup::IsThere(other) || fakesetup::Contains(state.unknownIdentity, other)) {
        return true;  // cannot be told
    }
    return static_cast<OpenFile*>(file)->path == other;
}

bool DeleteNamedFile(const char* path) { return state.files.erase(fakesetup::Reached(path)) > 0; }

bool Exists(const char* path) { return fakesetup::IsThere(fakesetup::Reached(path)); }

uint32_t LastError() { return fakesetup::g_lastError; }
bool IsAlreadyExists(uint32_t error) { return error == fakesetup::kAlreadyExists; }

bool MakePrivateFolder(const char* path) {
    if (Exists(path)) {
        fakesetup::g_lastError = fakesetup::kAlreadyExists;
        return false;
    }
    state.folders.push_back(path);
    return true;
}

bool RemoveFolder(const char* path) {
    const std::string inside = std::string(path) + "\\";
    for (const auto& file : state.files) {
        if (file.first.rfind(inside, 0) == 0) return false;
    }
    auto found = std::find(state.folders.begin(), state.folders.end(), path);
    if (found == state.folders.end()) return false;
    state.folders.erase(found);
    return true;
}

void ShowMessage(const char* text) { state.messages.push_back(text); }

namespace {
uint32_t Copy(const std::string& text, char* buffer, uint32_t size) {
    if (text.size() >= size) return 0;
    std::strcpy(buffer, text.c_str());
    return static_cast<uint32_t>(text.size());
}
}  // namespace

uint32_t ModulePath(char* buffer, uint32_t size) { return Copy(state.ownPath, buffer, size); }
uint32_t TempFolder(char* buffer, uint32_t size) { return Copy(state.tempFolder, buffer, size); }
uint32_t SystemFolder(char* buffer, uint32_t size) { return Copy(state.systemFolder, buffer, size); }

uint32_t ProcessNumber() { return 0x1234; }
uint32_t Ticks() { return state.ticks; }

void LowerCase(char* text) {
    // Code page 932: the trail byte of a double-byte character stays as it is.
    for (unsigned char* p = reinterpret_cast<unsigned char*>(text); *p; ++p) {
        if ((*p >= 0x81 && *p <= 0x9F) || (*p >= 0xE0 && *p <= 0xFC)) {
            if (!*++p) break;
        } else {
            *p = static_cast<unsigned char>(std::tolower(*p));
        }
    }
}

int Compare(const char* a, const char* b) { return std::strcmp(a, b); }

void* AllocateBuffer(uint32_t size) { return std::malloc(size); }
void FreeBuffer(void* buffer) { std::free(buffer); }

RunResult RunAndWait(const char* application, char* commandLine, uint32_t* exitCode) {
    state.application = application;
    state.commandLine = commandLine;
    if (state.processFails) return RunResult::NotStarted;
    const std::string& package = state.freshPackage;
    state.packageAtStart = state.files.count(package) ? state.files[package] : "<missing>";
    state.packageHeldDuringRun = fakesetup::g_holds[package] > 0;
    if (state.noExitCode) return RunResult::NoExitCode;
    *exitCode = state.installerExit;
    return RunResult::Exited;
}

}  // namespace setupos
