// The three modes of setup: build a setup file, extract its package, or
// run the system installer on it.
#include <string.h>

#include "setup.h"
#include "setup_os.h"

namespace {

// Messages of the build and extract modes (code page 932).
const char kNoPackageGiven[] = "統合するmsiファイルを指定して下さい。";
const char kPackageNotFound[] = "指定されたmsiファイルが見つかりません。";
const char kOutputNotCreated[] = "出力ファイルの作成に失敗しました";
const char kStubUnreadable[] = "exeデータ読み込みに失敗しました";
const char kPackageUnreadable[] = "msiデータ読み込みに失敗しました";
const char kExtractNotCreated[] = "msiファイルの作成に失敗しました。";

struct OwnPath {
    char full[kPathSize];
    char drive[3], directory[256], name[256], extension[256];
    bool Read() {
        if (setupos::ModulePath(full, sizeof full) == 0) return false;
        setupos::SplitPath(full, drive, directory, name, extension);
        return true;
    }
};

// The copy buffer of one run, freed on every path.
struct CopyBuffer {
    void* data = setupos::AllocateBuffer(kCopyBufferSize);
    ~CopyBuffer() { setupos::FreeBuffer(data); }
};

enum class CopyResult { Done, ReadFailed, WriteFailed };

// Copies from the source's position to its end into the destination at its
// position, one buffer at a time.
CopyResult CopyRest(setupos::File source, setupos::File destination, void* buffer) {
    for (;;) {
        uint32_t count = 0;
        if (!setupos::ReadBlock(source, buffer, kCopyBufferSize, &count)) return CopyResult::ReadFailed;
        if (count == 0) return CopyResult::Done;
        if (!setupos::WriteBlock(destination, buffer, count)) return CopyResult::WriteFailed;
    }
}

// Closes the output, and on failure deletes it: a setup file or package
// cut short is worse than none.
bool FinishOutput(setupos::File output, const char* path, bool complete) {
    if (!setupos::CloseFile(output)) complete = false;
    if (!complete) setupos::DeleteNamedFile(path);
    return complete;
}

int Fail(const char* message) {
    setupos::ShowMessage(message);
    return kExitModeFailed;
}

}  // namespace

int BuildSetupFile(int argc, char** argv) {
    if (argc < 3) return Fail(kNoPackageGiven);
    const char* package = argv[2];
    if (!setupos::Exists(package)) return Fail(kPackageNotFound);
    OwnPath own;
    if (!own.Read()) return Fail(kStubUnreadable);

    char drive[3], directory[256], name[256], extension[256];
    setupos::SplitPath(package, drive, directory, name, extension);
    char outputPath[kPathSize];
    if (!JoinInto(outputPath, sizeof outputPath, own.drive, own.directory, name, ".exe")) {
        return Fail(kOutputNotCreated);
    }

    CopyBuffer buffer;
    if (!buffer.data) return Fail(kOutputNotCreated);
    setupos::File output = setupos::OpenForWriting(outputPath);
    if (!output) return Fail(kOutputNotCreated);

    // The stub: the whole running file, a package it carries included.
    setupos::File self = setupos::OpenForReading(own.full);
    if (!self) {
        setupos::CloseFile(output);  // stays behind, empty
        return Fail(kStubUnreadable);
    }
    const CopyResult stub = CopyRest(self, output, buffer.data);
    setupos::CloseFile(self);
    if (stub != CopyResult::Done) {
        FinishOutput(output, outputPath, false);
        return Fail(stub == CopyResult::ReadFailed ? kStubUnreadable : kOutputNotCreated);
    }

    // The package from the offset on; the gap behind a shorter stub reads
    // as zeros. Cutting at the package's end drops the tail of a longer
    // package that the stub may have carried.
    setupos::File source = setupos::OpenForReading(package);
    if (!source || !setupos::SeekTo(output, kPackageOffset)) {
        if (source) setupos::CloseFile(source);
        FinishOutput(output, outputPath, false);
        return Fail(source ? kOutputNotCreated : kPackageUnreadable);
    }
    const CopyResult copied = CopyRest(source, output, buffer.data);
    setupos::CloseFile(source);
    const bool cut = copied == CopyResult::Done && setupos::CutHere(output);
    if (!FinishOutput(output, outputPath, cut)) {
        return Fail(copied == CopyResult::ReadFailed ? kPackageUnreadable : kOutputNotCreated);
    }
    return 0;
}

int ExtractPackage() {
    OwnPath own;
    if (!own.Read()) return Fail(kExtractNotCreated);
    char outputPath[kPathSize];
    if (!JoinInto(outputPath, sizeof outputPath, own.drive, own.directory, own.name, ".msi")) {
        return Fail(kExtractNotCreated);
    }
    CopyBuffer buffer;
    if (!buffer.data) return Fail(kExtractNotCreated);
    setupos::File output = setupos::OpenForWriting(outputPath);
    if (!output) return Fail(kExtractNotCreated);

    setupos::File self = setupos::OpenForReading(own.full);
    if (!self) {
        setupos::CloseFile(output);  // stays behind, empty; nothing is shown
        return kExitModeFailed;
    }
    // A file shorter than the offset carries an empty package: the seek
    // lands past its end and the first read finds nothing.
    const bool copied = setupos::SeekTo(self, kPackageOffset) &&
                        CopyRest(self, output, buffer.data) == CopyResult::Done;
    setupos::CloseFile(self);
    if (!FinishOutput(output, outputPath, copied)) return Fail(kExtractNotCreated);
    return 0;
}

uint32_t LaunchInstaller(const char* commandText) {
    OwnPath own;
    char folder[kPathSize], packagePath[kPathSize];
    if (setupos::TempFolder(folder, sizeof folder) == 0 || !own.Read() ||
        !JoinInto(packagePath, sizeof packagePath, folder, own.name, ".msi")) {
        return kExitTempUnwritable;
    }
    CopyBuffer buffer;
    if (!buffer.data) return kExitTempUnwritable;

    setupos::File package = setupos::OpenForWriting(packagePath);
    if (!package) {
        // Another setup of the same name holds it while its installer runs.
        return setupos::IsSharingViolation(setupos::LastError()) ? kExitAlreadyRunning
                                                                 : kExitTempUnwritable;
    }
    setupos::File self = setupos::OpenForReading(own.full);
    CopyResult copied = CopyResult::ReadFailed;
    if (self) {
        if (setupos::SeekTo(self, kPackageOffset)) copied = CopyRest(self, package, buffer.data);
        setupos::CloseFile(self);
    }
    if (!setupos::CloseFile(package) && copied == CopyResult::Done) copied = CopyResult::WriteFailed;
    if (copied != CopyResult::Done) {
        setupos::DeleteNamedFile(packagePath);
        return copied == CopyResult::ReadFailed ? kExitPackageUnreadable : kExitTempUnwritable;
    }
    // Held until the installer has ended, so that no other setup can
    // replace or delete the package while the installer reads it. Should
    // another setup have taken the name in the moment between, the package
    // is its own now: leave it alone.
    setupos::File hold = setupos::HoldForReading(packagePath);
    if (!hold) {
        if (setupos::IsSharingViolation(setupos::LastError())) return kExitAlreadyRunning;
        setupos::DeleteNamedFile(packagePath);
        return kExitTempUnwritable;
    }

    // The system installer by its full path, never a msiexec.exe planted in
    // setup's own folder; the command line itself stays "msiexec ...".
    char system[kPathSize], installer[kPathSize];
    uint32_t exitCode = kExitInstallerNotRun;
    const size_t commandSize = strlen(packagePath) + strlen(commandText) + 32;
    char* command = static_cast<char*>(setupos::AllocateBuffer(static_cast<uint32_t>(commandSize)));
    if (command && setupos::SystemFolder(system, sizeof system) != 0 &&
        JoinInto(installer, sizeof installer, system, "\\msiexec.exe")) {
        if (WantsUninstall(commandText)) {
            JoinInto(command, commandSize, "msiexec ", commandText, " \"", packagePath, "\"");
        } else {
            JoinInto(command, commandSize, "msiexec /i \"", packagePath, "\" ", commandText);
        }
        switch (setupos::RunAndWait(installer, command, &exitCode)) {
            case setupos::RunResult::Exited:
                break;
            case setupos::RunResult::NotStarted:
                exitCode = kExitInstallerNotRun;
                break;
            case setupos::RunResult::NoExitCode:
                exitCode = kExitNoInstallerCode;
                break;
        }
    }
    setupos::FreeBuffer(command);
    setupos::CloseFile(hold);
    setupos::DeleteNamedFile(packagePath);
    return exitCode;
}

int RunSetup(int argc, char** argv, const char* commandLine) {
    switch (SelectMode(argc, argv)) {
        case Mode::Build:
            return BuildSetupFile(argc, argv);
        case Mode::Extract:
            return ExtractPackage();
        case Mode::Launch:
            break;
    }
    return static_cast<int>(LaunchInstaller(SkipProgramName(commandLine)));
}
