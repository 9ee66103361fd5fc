// setup's build, extract and launch modes over an in-memory file system.
// Compiled with code page 932 as its execution character set, like the
// messages it checks.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "fake_setup_os.h"
#include "row_name.h"
#include "setup/setup.h"

using fakesetup::state;

namespace {

const char kNoPackageGiven[] = "統合するmsiファイルを指定して下さい。";
const char kPackageNotFound[] = "指定されたmsiファイルが見つかりません。";
const char kOutputNotCreated[] = "出力ファイルの作成に失敗しました";
const char kStubUnreadable[] = "exeデータ読み込みに失敗しました";
const char kPackageUnreadable[] = "msiデータ読み込みに失敗しました";
const char kExtractNotCreated[] = "msiファイルの作成に失敗しました。";

std::string Bytes(size_t size, int seed) {
    std::string s(size, '\0');
    for (size_t i = 0; i < size; ++i) s[i] = static_cast<char>((i * 7 + seed) % 251);
    return s;
}

class SetupModes : public ::testing::Test {
protected:
    const std::string stub = Bytes(45056, 1);
    void SetUp() override {
        fakesetup::Reset();
        state.files[state.ownPath] = stub;
    }
    int Run(std::vector<const char*> arguments, const char* commandLine = "setup.exe") {
        arguments.insert(arguments.begin(), "setup.exe");
        return RunSetup(static_cast<int>(arguments.size()), const_cast<char**>(arguments.data()),
                        commandLine);
    }
    std::string SetupFile(const std::string& package) const {
        return stub + std::string(kPackageOffset - stub.size(), '\0') + package;
    }
    std::vector<std::string> Messages(const char* message) { return {message}; }
};

// ---- build ------------------------------------------------------------------

TEST_F(SetupModes, BuildPutsThePackageAtTheOffsetBehindTheStub) {
    const std::string package = Bytes(100000, 2);
    state.files["D:\\pkgs\\tool.msi"] = package;
    EXPECT_EQ(Run({"/create", "D:\\pkgs\\tool.msi"}), 0);
    EXPECT_TRUE(state.messages.empty());
    EXPECT_EQ(state.files.at("C:\\dl\\tool.exe"), SetupFile(package));  // beside setup
    EXPECT_EQ(state.openFiles, 0);
}

TEST_F(SetupModes, BuildNamesTheOutputAfterThePackagesBaseName) {
    state.files["a.b.msi"] = "x";
    state.files["D:\\pkg"] = "y";
    EXPECT_EQ(Run({"/CREATE", "a.b.msi"}), 0);
    EXPECT_EQ(Run({"/create", "D:\\pkg"}), 0);
    EXPECT_EQ(state.files.count("C:\\dl\\a.b.exe"), 1u);
    EXPECT_EQ(state.files.count("C:\\dl\\pkg.exe"), 1u);
}

TEST_F(SetupModes, BuildReplacesAnOlderOutputWhole) {
    const std::string package = Bytes(3000, 2);
    state.files["D:\\pkgs\\tool.msi"] = package;
    state.files["C:\\dl\\tool.exe"] = Bytes(200000, 9);  // longer than the new one, gap included
    EXPECT_EQ(Run({"/create", "D:\\pkgs\\tool.msi"}), 0);
    EXPECT_EQ(state.files.at("C:\\dl\\tool.exe"), SetupFile(package));
}

TEST_F(SetupModes, BuildFromASetupFileWithALongerPackageGivesTheSameBytes) {
    state.files[state.ownPath] = SetupFile(Bytes(200000, 3));  // carries a longer package
    const std::string package = Bytes(5000, 4);
    state.files["new.msi"] = package;
    EXPECT_EQ(Run({"/create", "new.msi"}), 0);
    EXPECT_EQ(state.files.at("C:\\dl\\new.exe"), SetupFile(package));
}

// ---- extract ----------------------------------------------------------------

TEST_F(SetupModes, ExtractWritesTheCarriedPackageBesideTheSetupFile) {
    const std::string package = Bytes(70000, 6);
    state.ownPath = "C:\\dl\\install.exe";
    state.files[state.ownPath] = SetupFile(package);
    EXPECT_EQ(Run({"/extract", "ignored"}), 0);
    EXPECT_EQ(state.files.at("C:\\dl\\install.msi"), package);
    EXPECT_TRUE(state.messages.empty());
}

TEST_F(SetupModes, ExtractFromABareProgramWritesAnEmptyPackage) {
    EXPECT_EQ(Run({"/EXTRACT"}), 0);
    EXPECT_EQ(state.files.at("C:\\dl\\setup.msi"), "");
    EXPECT_TRUE(state.messages.empty());
}

// ---- launch -----------------------------------------------------------------

struct CommandRow {
    const char* commandLine;
    const char* installerCommand;
};

class Launch : public SetupModes, public ::testing::WithParamInterface<CommandRow> {};

TEST_P(Launch, RunsTheSystemInstallerOnTheCompletePackageAndReturnsItsCode) {
    const std::string package = Bytes(80000, 8);
    state.files[state.ownPath] = SetupFile(package);
    state.installerExit = 1603;
    EXPECT_EQ(Run({}, GetParam().commandLine), 1603);
    EXPECT_EQ(state.application, "C:\\WINDOWS\\system32\\msiexec.exe");
    EXPECT_EQ(state.commandLine, GetParam().installerCommand);
    EXPECT_EQ(state.packageAtStart, package);
    EXPECT_TRUE(state.packageHeldDuringRun);
    EXPECT_EQ(state.files.count("C:\\TEMP\\setup-00001234-00000100\\setup.msi"), 0u);
    EXPECT_TRUE(state.folders.empty());
    EXPECT_TRUE(state.messages.empty());
    EXPECT_EQ(state.openFiles, 0);
}

INSTANTIATE_TEST_SUITE_P(
    Forms, Launch,
    ::testing::Values(
        CommandRow{"setup.exe", "msiexec /i \"C:\\TEMP\\setup-00001234-00000100\\setup.msi\" "},
        CommandRow{"\"C:\\dl\\setup.exe\" /qn", "msiexec /i \"C:\\TEMP\\setup-00001234-00000100\\setup.msi\" /qn"},
        CommandRow{"setup.exe /x", "msiexec /x \"C:\\TEMP\\setup-00001234-00000100\\setup.msi\""},
        CommandRow{"setup.exe /X /qn", "msiexec /X /qn \"C:\\TEMP\\setup-00001234-00000100\\setup.msi\""},
        CommandRow{"setup.exe /uninstall /qn", "msiexec /uninstall /qn \"C:\\TEMP\\setup-00001234-00000100\\setup.msi\""},
        CommandRow{"setup.exe /qn TARGETDIR=C:/xdir",
                   "msiexec /i \"C:\\TEMP\\setup-00001234-00000100\\setup.msi\" /qn TARGETDIR=C:/xdir"},
        CommandRow{"setup.exe /qn PROP=\"A b\"", "msiexec /i \"C:\\TEMP\\setup-00001234-00000100\\setup.msi\" /qn PROP=\"A b\""}),
    [](const auto& info) { return rows::Name(info.index, {info.param.commandLine}); });

// ---- runs that fail --------------------------------------------------------

struct FailureRow {
    const char* name;
    std::vector<const char*> arguments;
    void (*script)();
    int exitCode;
    const char* message;  // the one message box ("": none), nullptr when not checked
    const char* gone = nullptr;   // a file that must not be left behind
    bool installerAsked = false;  // the installer's command line was made
    void (*check)() = nullptr;    // what else the row checks
};

// The own file of the fixture with a package behind it at the offset.
void Carry(const std::string& package) {
    std::string& own = state.files[state.ownPath];
    own += std::string(kPackageOffset - own.size(), '\0') + package;
}

class FailedRun : public SetupModes, public ::testing::WithParamInterface<FailureRow> {};

TEST_P(FailedRun, EndsWithItsCodeAndLeavesNothingBehind) {
    const FailureRow& row = GetParam();
    row.script();
    EXPECT_EQ(Run(row.arguments), row.exitCode);
    if (row.message) {
        EXPECT_EQ(state.messages, *row.message ? Messages(row.message) : std::vector<std::string>{});
    }
    if (row.gone) {
        EXPECT_EQ(state.files.count(row.gone), 0u);
    }
    if (row.check) row.check();
    EXPECT_EQ(state.commandLine.empty(), !row.installerAsked);
    EXPECT_EQ(state.openFiles, 0);
}

const char kOutput[] = "C:\\dl\\p.exe";
const char kExtracted[] = "C:\\dl\\setup.msi";
const char kTempPackage[] = "C:\\TEMP\\setup-00001234-00000100\\setup.msi";

// The package given as D:\x\p.exe is the file C:\dl\p.exe, the output's
// name (an 8.3 name, a hard link, a junction or a subst drive would do).
void PackageReachedAsOutput() {
    state.files[kOutput] = Bytes(5000, 5);
    state.links["D:\\x\\p.exe"] = kOutput;
}
void PackageUnchanged() {
    EXPECT_EQ(state.files.at(kOutput), Bytes(5000, 5));
    EXPECT_EQ(state.files.size(), 2u);
}

// Builds and extracts show their message, end with 1 and remove an output
// they could not finish; launches that do not get the installer to run never
// report success.
INSTANTIATE_TEST_SUITE_P(
    Paths, FailedRun,
    ::testing::Values(
        FailureRow{"BuildWithoutAPackage", {"/create"}, [] {}, 1, kNoPackageGiven},
        FailureRow{"BuildOfAMissingPackage", {"/create", "missing.msi"}, [] {}, 1, kPackageNotFound,
                   nullptr, false, [] { EXPECT_EQ(state.files.size(), 1u); }},
        // A folder passes the existence test, but cannot be read: the output,
        // already filled with the stub, goes again.
        FailureRow{"BuildOfAFolder", {"/create", "D:\\pkgs"}, [] { state.folders = {"D:\\pkgs"}; }, 1,
                   kPackageUnreadable, "C:\\dl\\pkgs.exe"},
        // A package named like setup would overwrite the running file.
        FailureRow{"BuildOverTheRunningFile", {"/create", "setup.msi"}, [] { state.files["setup.msi"] = "x"; },
                   1, kOutputNotCreated, nullptr, false,
                   [] { EXPECT_EQ(state.files.at(state.ownPath), Bytes(45056, 1)); }},
        // The output is a file it is made from, by another name: refused
        // before a byte of it changes, whether the package can be read or not.
        FailureRow{"BuildOverThePackageByAnotherName", {"/create", "D:\\x\\p.exe"},
                   PackageReachedAsOutput, 1, kOutputNotCreated, nullptr, false, PackageUnchanged},
        FailureRow{"BuildOverAnUnreadablePackageByAnotherName", {"/create", "D:\\x\\p.exe"}, [] {
            PackageReachedAsOutput();
            state.unreadable = {kOutput};
        }, 1, kOutputNotCreated, nullptr, false, PackageUnchanged},
        FailureRow{"BuildOverTheRunningFileByAnotherName", {"/create", "D:\\x\\twin.msi"}, [] {
            state.files["D:\\x\\twin.msi"] = "x";
            state.links["C:\\dl\\twin.exe"] = state.ownPath;
        }, 1, kOutputNotCreated, nullptr, false,
                   [] { EXPECT_EQ(state.files.at(state.ownPath), Bytes(45056, 1)); }},
        // Not even the package's attributes can be read: it might be the
        // output, so the output made for it goes again.
        FailureRow{"BuildOfAPackageOfUnknownIdentity", {"/create", "p.msi"}, [] {
            state.files["p.msi"] = "x";
            state.unknownIdentity = {"p.msi"};
        }, 1, kOutputNotCreated, kOutput},
        // The running file cannot be read: no empty output is left.
        FailureRow{"BuildOwnFileUnreadable", {"/create", "p.msi"}, [] {
            state.files["p.msi"] = "x";
            state.unreadable = {state.ownPath};
        }, 1, kStubUnreadable, kOutput},
        FailureRow{"BuildOutOfDiskSpace", {"/create", "p.msi"}, [] {
            state.files["p.msi"] = Bytes(100000, 5);
            state.diskSpace = 70000;  // the stub fits, the package does not
        }, 1, kOutputNotCreated, kOutput},
        FailureRow{"BuildPackageReadFails", {"/create", "p.msi"}, [] {
            state.files["p.msi"] = Bytes(100000, 5);
            state.readFailsAt["p.msi"] = 32768;
        }, 1, kPackageUnreadable, kOutput},
        FailureRow{"ExtractOutputUnwritable", {"/extract"}, [] { state.unwritable = {kExtracted}; }, 1,
                   kExtractNotCreated},
        FailureRow{"ExtractOverTheRunningFile", {"/extract"}, [] { state.links[kExtracted] = state.ownPath; },
                   1, kExtractNotCreated, nullptr, false,
                   [] { EXPECT_EQ(state.files.at(state.ownPath), Bytes(45056, 1)); }},
        // The running file cannot be read: no message, no empty output.
        FailureRow{"ExtractOwnFileUnreadable", {"/extract"}, [] { state.unreadable = {state.ownPath}; }, 1,
                   "", kExtracted},
        FailureRow{"ExtractOutOfDiskSpace", {"/extract"}, [] {
            Carry(Bytes(100000, 7));
            state.diskSpace = 50000;
        }, 1, kExtractNotCreated, kExtracted},
        FailureRow{"LaunchTempPathTooLong", {}, [] {
            state.tempFolder = "C:\\" + std::string(300, 't') + "\\";
        }, 1632, nullptr},
        FailureRow{"LaunchEveryFreshNameTaken", {}, [] {
            for (uint32_t i = 0; i < kFreshFolderTries; ++i) {
                char name[32];
                std::snprintf(name, sizeof name, "C:\\TEMP\\setup-00001234-%08x", 0x100 + i);
                state.folders.push_back(name);
            }
        }, 1632, nullptr, nullptr, false,
                   [] { EXPECT_EQ(state.folders.size(), kFreshFolderTries); }},
        FailureRow{"LaunchOwnFileUnreadable", {}, [] { state.unreadable = {state.ownPath}; }, 1619, nullptr,
                   kTempPackage},  // no empty package left
        FailureRow{"LaunchOutOfDiskSpace", {}, [] {
            Carry(Bytes(100000, 9));
            state.diskSpace = 40000;
        }, 1632, nullptr, kTempPackage},
        FailureRow{"LaunchInstallerNotStarted", {}, [] { state.processFails = true; }, 1601, nullptr,
                   kTempPackage, true},
        FailureRow{"LaunchInstallerExitCodeLost", {}, [] { state.noExitCode = true; }, 1603, nullptr,
                   kTempPackage, true}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(SetupModes, LaunchOfAFileWithoutAPackageStillRunsTheInstaller) {
    state.installerExit = 1620;  // the installer's own verdict on an empty package
    EXPECT_EQ(Run({}, "setup.exe /qn"), 1620);
    EXPECT_EQ(state.packageAtStart, "");
}

}  // namespace
