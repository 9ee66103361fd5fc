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

// A file opened only for reading, closed when the holder goes: closing it
// cannot lose anything, so its result is not needed.
struct ReadHandle {
    setupos::File file;
    explicit ReadHandle(setupos::File opened) : file(opened) {}
    ~ReadHandle() {
        if (file) setupos::CloseFile(file);
    }
    ReadHandle(const ReadHandle&) = delete;
    ReadHandle& operator=(const ReadHandle&) = delete;
};

// The launch mode's folder of its own in the temporary folder, made new so
// that nothing planted beforehand is ever written through or deleted; the
// package and the folder go when the holder goes, whatever happened.
struct FreshFolder {
    char folder[kPathSize] = "";
    char package[kPathSize] = "";
    bool made = false;
    bool Make(const char* tempFolder, const char* baseName) {
        const uint32_t process = setupos::ProcessNumber();
        uint32_t serial = setupos::Ticks();
        for (uint32_t i = 0; i < kFreshFolderTries; ++i, ++serial) {
            if (!FreshPackagePaths(folder, package, tempFolder, process, serial, baseName)) return false;
            made = setupos::MakePrivateFolder(folder);
            if (made || !setupos::IsAlreadyExists(setupos::LastError())) return made;
        }
        return false;
    }
    ~FreshFolder() {
        if (!made) return;
        setupos::DeleteNamedFile(package);
        setupos::RemoveFolder(folder);
    }
    FreshFolder() = default;
    FreshFolder(const FreshFolder&) = delete;
    FreshFolder& operator=(const FreshFolder&) = delete;
};

enum class CopyResult { Done, ReadFailed, WriteFailed };

// Copies from the source's position to its end into the destination at its
// position (written), one buffer at a time. The first block only reaches the
// next buffer-sized boundary of the destination: writes that straddle those
// boundaries cost twice the time under Wine (measured: a 256 MB copy behind
// the package offset took 0.28 s with them, 0.19 s aligned).
CopyResult CopyRest(setupos::File source, setupos::File destination, void* buffer,
                    uint32_t written = 0) {
    uint32_t size = kCopyBufferSize - written % kCopyBufferSize;
    for (;;) {
        uint32_t count = 0;
        if (!setupos::ReadBlock(source, buffer, size, &count)) return CopyResult::ReadFailed;
        if (count == 0) return CopyResult::Done;
        if (!setupos::WriteBlock(destination, buffer, count)) return CopyResult::WriteFailed;
        size = kCopyBufferSize;
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
    // Opening the output empties it: when it is the package itself (say
    // X.exe given from setup's own folder), the package would be lost.
    char fullPackage[kPathSize], fullOutput[kPathSize];
    if (setupos::FullPath(package, fullPackage, sizeof fullPackage) == 0 ||
        setupos::FullPath(outputPath, fullOutput, sizeof fullOutput) == 0 ||
        NamesSameFile(fullPackage, fullOutput)) {
        return Fail(kOutputNotCreated);
    }

    CopyBuffer buffer;
    if (!buffer.data) return Fail(kOutputNotCreated);
    setupos::File output = setupos::OpenForWriting(outputPath);
    if (!output) return Fail(kOutputNotCreated);

    // The stub: the whole running file, a package it carries included.
    CopyResult stub;
    {
        ReadHandle self(setupos::OpenForReading(own.full));
        if (!self.file) {
            FinishOutput(output, outputPath, false);
            return Fail(kStubUnreadable);
        }
        stub = CopyRest(self.file, output, buffer.data);
    }
    if (stub != CopyResult::Done) {
        FinishOutput(output, outputPath, false);
        return Fail(stub == CopyResult::ReadFailed ? kStubUnreadable : kOutputNotCreated);
    }

    // The package from the offset on; the gap behind a shorter stub reads
    // as zeros. Cutting at the package's end drops the tail of a longer
    // package that the stub may have carried.
    ReadHandle source(setupos::OpenForReading(package));
    if (!source.file || !setupos::SeekTo(output, kPackageOffset)) {
        FinishOutput(output, outputPath, false);
        return Fail(source.file ? kOutputNotCreated : kPackageUnreadable);
    }
    const CopyResult copied = CopyRest(source.file, output, buffer.data, kPackageOffset);
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

    ReadHandle self(setupos::OpenForReading(own.full));
    if (!self.file) {
        FinishOutput(output, outputPath, false);  // nothing is shown
        return kExitModeFailed;
    }
    // A file shorter than the offset carries an empty package: the seek
    // lands past its end and the first read finds nothing.
    const bool copied = setupos::SeekTo(self.file, kPackageOffset) &&
                        CopyRest(self.file, output, buffer.data) == CopyResult::Done;
    if (!FinishOutput(output, outputPath, copied)) return Fail(kExtractNotCreated);
    return 0;
}

uint32_t LaunchInstaller(const char* commandText) {
    OwnPath own;
    char temp[kPathSize];
    if (setupos::TempFolder(temp, sizeof temp) == 0 || !own.Read()) return kExitTempUnwritable;
    CopyBuffer buffer;
    if (!buffer.data) return kExitTempUnwritable;

    // Destroyed in reverse order: the hold is closed before the package
    // and its folder are removed.
    FreshFolder fresh;
    if (!fresh.Make(temp, own.name)) return kExitTempUnwritable;
    const char* packagePath = fresh.package;
    setupos::File package = setupos::CreateNewForWriting(packagePath);
    if (!package) return kExitTempUnwritable;
    CopyResult copied = CopyResult::ReadFailed;
    {
        ReadHandle self(setupos::OpenForReading(own.full));
        if (self.file && setupos::SeekTo(self.file, kPackageOffset)) {
            copied = CopyRest(self.file, package, buffer.data);
        }
    }
    if (!setupos::CloseFile(package) && copied == CopyResult::Done) copied = CopyResult::WriteFailed;
    if (copied != CopyResult::Done) {
        return copied == CopyResult::ReadFailed ? kExitPackageUnreadable : kExitTempUnwritable;
    }
    // Held until the installer has ended, so that nothing can replace the
    // package while the installer reads it.
    ReadHandle hold(setupos::HoldForReading(packagePath));
    if (!hold.file) return kExitTempUnwritable;

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
