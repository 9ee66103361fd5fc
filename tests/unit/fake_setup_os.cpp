#include "fake_setup_os.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>

#include "split_path.h"

namespace fakesetup {
State state;

namespace {
constexpr uint32_t kAlreadyExists = 183;
uint32_t g_lastError;

struct OpenFile {
    std::string path;
    size_t position = 0;
    bool writing = false;
    bool holding = false;
};

bool Contains(const std::vector<std::string>& list, const std::string& item) {
    return std::find(list.begin(), list.end(), item) != list.end();
}

int g_holders;  // our own holds on the temporary package
}  // namespace

void Reset() {
    state = State();
    g_lastError = 0;
    g_holders = 0;
}
}  // namespace fakesetup

namespace setupos {
using fakesetup::OpenFile;
using fakesetup::state;

File OpenForWriting(const char* path) {
    if (fakesetup::Contains(state.unwritable, path) || path == state.ownPath) {
        fakesetup::g_lastError = 5;
        return nullptr;
    }
    state.files[path].clear();
    ++state.openFiles;
    return new OpenFile{path, 0, true, false};
}

File CreateNewForWriting(const char* path) {
    if (state.files.count(path)) {
        fakesetup::g_lastError = fakesetup::kAlreadyExists;
        return nullptr;
    }
    state.freshPackage = path;
    return OpenForWriting(path);
}

File OpenForReading(const char* path) {
    if (!state.files.count(path) || fakesetup::Contains(state.unreadable, path)) {
        fakesetup::g_lastError = 2;
        return nullptr;
    }
    ++state.openFiles;
    return new OpenFile{path, 0, false, false};
}

File HoldForReading(const char* path) {
    File file = OpenForReading(path);
    if (file) {
        static_cast<OpenFile*>(file)->holding = true;
        ++fakesetup::g_holders;
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
    if (f->holding) --fakesetup::g_holders;
    delete f;
    --state.openFiles;
    return true;
}

bool DeleteNamedFile(const char* path) { return state.files.erase(path) > 0; }

bool Exists(const char* path) {
    return state.files.count(path) || fakesetup::Contains(state.folders, path);
}

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

uint32_t FullPath(const char* path, char* buffer, uint32_t size) {
    const std::string text = path;
    return Copy(text.size() > 1 && text[1] == ':' ? text : state.currentFolder + text, buffer, size);
}

uint32_t ProcessNumber() { return 0x1234; }
uint32_t Ticks() { return state.ticks; }

void SplitPath(const char* path, char* drive, char* directory, char* name, char* extension) {
    const fake::PathParts parts = fake::SplitWindowsPath(path);
    std::strcpy(drive, parts.drive.c_str());
    std::strcpy(directory, parts.directory.c_str());
    std::strcpy(name, parts.name.c_str());
    std::strcpy(extension, parts.extension.c_str());
}

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
    state.packageHeldDuringRun = fakesetup::g_holders > 0;
    if (state.noExitCode) return RunResult::NoExitCode;
    *exitCode = state.installerExit;
    return RunResult::Exited;
}

}  // namespace setupos
