// The three modes of setup: build a setup file, extract its package, or
// run the system installer on it.
#include <string.h>

#include "setup/setup.h"
#include "setup/setup_os.h"

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
    char folder[kPathSize], name[kPathSize];
    bool Read() {
        return setupos::ModulePath(full, sizeof full) != 0 && SplitPath(full, folder, name);
    }
};

// A block of memory of one run (the copy buffer, the installer's command
// line), freed on every path.
using Buffer = UniqueHandle<void*, setupos::FreeBuffer>;

using setupos::FileHandle;

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

// Opens the output and empties it, but only once it is known to be neither
// the file it is made from nor the running file (other, when given). Either
// may reach the output by another name (an 8.3 name, a hard link, a
// junction, a subst or mapped drive), so the files are compared, not their
// names. A refused output keeps every byte; one made new for nothing goes.
FileHandle OpenOutput(const char* path, const char* source, const char* other) {
    bool existed = false;
    FileHandle output(setupos::OpenOrCreateForWriting(path, &existed));
    if (output && (setupos::MayBeSameFile(output.Get(), source) ||
                   (other && setupos::MayBeSameFile(output.Get(), other)) ||
                   !setupos::CutHere(output.Get()))) {
        output.Reset();
        if (!existed) setupos::DeleteNamedFile(path);
    }
    return output;
}

// Closes the output, and on failure deletes it: a setup file or package
// cut short is worse than none.
bool FinishOutput(FileHandle& output, const char* path, bool complete) {
    if (!output.Close()) complete = false;
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
    const char* packagePath = argv[2];
    if (!setupos::Exists(packagePath)) return Fail(kPackageNotFound);
    OwnPath own;
    if (!own.Read()) return Fail(kStubUnreadable);

    char name[kPathSize], outputPath[kPathSize];
    if (!SplitPath(packagePath, nullptr, name) ||
        !JoinInto(outputPath, sizeof outputPath, own.folder, name, ".exe")) {
        return Fail(kOutputNotCreated);
    }
    const Buffer buffer(setupos::AllocateBuffer(kCopyBufferSize));
    if (!buffer.Get()) return Fail(kOutputNotCreated);
    // Held from before the output is opened: when the output is the package
    // by another name, it cannot be opened for writing then, and nothing
    // changes the package until it is copied. One that cannot be held is
    // reported where it is read, after the stub.
    FileHandle package(setupos::HoldForReading(packagePath));
    FileHandle output = OpenOutput(outputPath, packagePath, own.full);
    if (!output) return Fail(kOutputNotCreated);

    // The stub: the whole running file, a package it carries included.
    CopyResult stub;
    {
        FileHandle self(setupos::OpenForReading(own.full));
        if (!self) {
            FinishOutput(output, outputPath, false);
            return Fail(kStubUnreadable);
        }
        stub = CopyRest(self.Get(), output.Get(), buffer.Get());
    }
    if (stub != CopyResult::Done) {
        FinishOutput(output, outputPath, false);
        return Fail(stub == CopyResult::ReadFailed ? kStubUnreadable : kOutputNotCreated);
    }

    // The package from the offset on; the gap behind a shorter stub reads
    // as zeros. Cutting at the package's end drops the tail of a longer
    // package that the stub may have carried.
    if (!package || !setupos::SeekTo(output.Get(), kPackageOffset)) {
        FinishOutput(output, outputPath, false);
        return Fail(package ? kOutputNotCreated : kPackageUnreadable);
    }
    const CopyResult copied = CopyRest(package.Get(), output.Get(), buffer.Get(), kPackageOffset);
    const bool cut = copied == CopyResult::Done && setupos::CutHere(output.Get());
    if (!FinishOutput(output, outputPath, cut)) {
        return Fail(copied == CopyResult::ReadFailed ? kPackageUnreadable : kOutputNotCreated);
    }
    return 0;
}

int ExtractPackage() {
    OwnPath own;
    if (!own.Read()) return Fail(kExtractNotCreated);
    char outputPath[kPathSize];
    if (!JoinInto(outputPath, sizeof outputPath, own.folder, own.name, ".msi")) {
        return Fail(kExtractNotCreated);
    }
    const Buffer buffer(setupos::AllocateBuffer(kCopyBufferSize));
    if (!buffer.Get()) return Fail(kExtractNotCreated);
    FileHandle output = OpenOutput(outputPath, own.full, nullptr);
    if (!output) return Fail(kExtractNotCreated);

    FileHandle self(setupos::OpenForReading(own.full));
    if (!self) {
        FinishOutput(output, outputPath, false);  // nothing is shown
        return kExitModeFailed;
    }
    // A file shorter than the offset carries an empty package: the seek
    // lands past its end and the first read finds nothing.
    const bool copied = setupos::SeekTo(self.Get(), kPackageOffset) &&
                        CopyRest(self.Get(), output.Get(), buffer.Get()) == CopyResult::Done;
    if (!FinishOutput(output, outputPath, copied)) return Fail(kExtractNotCreated);
    return 0;
}

uint32_t LaunchInstaller(const char* commandText) {
    OwnPath own;
    char temp[kPathSize];
    if (setupos::TempFolder(temp, sizeof temp) == 0 || !own.Read()) return kExitTempUnwritable;
    const Buffer buffer(setupos::AllocateBuffer(kCopyBufferSize));
    if (!buffer.Get()) return kExitTempUnwritable;

    // Destroyed in reverse order: the hold is closed before the package
    // and its folder are removed.
    FreshFolder fresh;
    if (!fresh.Make(temp, own.name)) return kExitTempUnwritable;
    const char* packagePath = fresh.package;
    CopyResult copied = CopyResult::ReadFailed;
    {
        FileHandle package(setupos::CreateNewForWriting(packagePath));
        if (!package) return kExitTempUnwritable;
        FileHandle self(setupos::OpenForReading(own.full));
        if (self && setupos::SeekTo(self.Get(), kPackageOffset)) {
            copied = CopyRest(self.Get(), package.Get(), buffer.Get());
        }
        if (!package.Close() && copied == CopyResult::Done) copied = CopyResult::WriteFailed;
    }
    if (copied != CopyResult::Done) {
        return copied == CopyResult::ReadFailed ? kExitPackageUnreadable : kExitTempUnwritable;
    }
    // Held until the installer has ended, so that nothing can replace the
    // package while the installer reads it.
    FileHandle hold(setupos::HoldForReading(packagePath));
    if (!hold) return kExitTempUnwritable;

    // The system installer by its full path, never a msiexec.exe planted in
    // setup's own folder; the command line itself stays "msiexec ...".
    char system[kPathSize], installer[kPathSize];
    const size_t commandSize = strlen(packagePath) + strlen(commandText) + 32;
    const Buffer command(setupos::AllocateBuffer(static_cast<uint32_t>(commandSize)));
    char* text = static_cast<char*>(command.Get());
    if (!text || setupos::SystemFolder(system, sizeof system) == 0 ||
        !JoinInto(installer, sizeof installer, system, "\\msiexec.exe")) {
        return kExitInstallerNotRun;
    }
    if (WantsUninstall(commandText)) {
        JoinInto(text, commandSize, "msiexec ", commandText, " \"", packagePath, "\"");
    } else {
        JoinInto(text, commandSize, "msiexec /i \"", packagePath, "\" ", commandText);
    }
    uint32_t exitCode = kExitInstallerNotRun;
    switch (setupos::RunAndWait(installer, text, &exitCode)) {
        case setupos::RunResult::Exited:
            return exitCode;
        case setupos::RunResult::NotStarted:
            return kExitInstallerNotRun;
        case setupos::RunResult::NoExitCode:
            break;
    }
    return kExitNoInstallerCode;
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
