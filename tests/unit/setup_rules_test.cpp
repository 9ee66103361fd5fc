// How setup reads its command line.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fake_setup_os.h"
#include "row_name.h"
#include "setup/setup.h"

namespace {

struct SkipRow {
    const char* line;
    const char* text;
};

class ProgramName : public ::testing::TestWithParam<SkipRow> {};

TEST_P(ProgramName, IsSkippedWithTheBlanksAndControlCharactersBehindIt) {
    EXPECT_STREQ(SkipProgramName(GetParam().line), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(
    Table, ProgramName,
    ::testing::Values(SkipRow{"\"C:\\dl\\setup.exe\" /qn", "/qn"},
                      SkipRow{"\"C:\\a b\\setup.exe\"/qn", "/qn"},
                      SkipRow{"C:\\dl\\setup.exe   /x  /qn ", "/x  /qn "},
                      SkipRow{"setup.exe\t\x01\x1f /i", "/i"},
                      SkipRow{"setup.exe PROP=\"a b\" /L*v \"C:\\x y.log\"",
                              "PROP=\"a b\" /L*v \"C:\\x y.log\""},
                      SkipRow{"setup.exe", ""},
                      SkipRow{"\"C:\\unterminated\\setup.exe /qn", ""},
                      SkipRow{"", ""}),
    [](const auto& info) { return rows::Name(info.index, {info.param.line}); });

struct ModeRow {
    std::vector<std::string> arguments;
    Mode mode;
};

class ModeSelection : public ::testing::TestWithParam<ModeRow> {};

TEST_P(ModeSelection, FoldsTheFirstArgumentAndComparesItWhole) {
    std::vector<char*> argv = {const_cast<char*>("setup.exe")};
    for (const std::string& a : GetParam().arguments) argv.push_back(const_cast<char*>(a.c_str()));
    EXPECT_EQ(SelectMode(static_cast<int>(argv.size()), argv.data()), GetParam().mode);
}

INSTANTIATE_TEST_SUITE_P(
    Table, ModeSelection,
    ::testing::Values(ModeRow{{"/create", "p.msi"}, Mode::Build},
                      ModeRow{{"/CREATE"}, Mode::Build},
                      ModeRow{{"/Extract"}, Mode::Extract},
                      ModeRow{{"/create."}, Mode::Launch},
                      ModeRow{{"-create"}, Mode::Launch},
                      ModeRow{{"/createx"}, Mode::Launch},
                      ModeRow{{"/qn", "/create"}, Mode::Launch},
                      ModeRow{{std::string(300, 'x')}, Mode::Launch},
                      ModeRow{{}, Mode::Launch}),
    [](const auto& info) { return rows::Name(info.index, info.param.arguments); });

struct UninstallRow {
    const char* text;
    bool uninstall;
};

class UninstallForm : public ::testing::TestWithParam<UninstallRow> {};

TEST_P(UninstallForm, IsChosenOnlyForAWholeRemovalSwitch) {
    EXPECT_EQ(WantsUninstall(GetParam().text), GetParam().uninstall) << GetParam().text;
}

INSTANTIATE_TEST_SUITE_P(
    Table, UninstallForm,
    ::testing::Values(UninstallRow{"/x", true}, UninstallRow{"/X", true},
                      UninstallRow{"/qn /x", true}, UninstallRow{"/uninstall /qn", true},
                      UninstallRow{"/UnInstall", true}, UninstallRow{"\"/x\"", true},
                      UninstallRow{"\t/x\t", true},
                      UninstallRow{"", false}, UninstallRow{"/qn", false},
                      UninstallRow{"TARGETDIR=C:/xdir", false},
                      UninstallRow{"/i C:/xdir/a.msi", false}, UninstallRow{"/x/qn", false},
                      UninstallRow{"/xy", false}, UninstallRow{"PROP=\"a /x b\"", false},
                      UninstallRow{"\\\"/x", false}, UninstallRow{"\"\"/x", true},
                      UninstallRow{"/uninstallx", false}),
    [](const auto& info) { return rows::Name(info.index, {info.param.text}); });

TEST(JoinInto, RefusesWhatDoesNotFitAndLeavesNothingBehind) {
    char out[8];
    EXPECT_TRUE(JoinInto(out, sizeof out, "ab", "cd", "efg"));
    EXPECT_STREQ(out, "abcdefg");
    EXPECT_FALSE(JoinInto(out, sizeof out, "abcd", "efgh"));
    EXPECT_STREQ(out, "");
}

// ---- path rules of the build and launch modes -------------------------------

struct SameFileRow {
    const char* a;
    const char* b;
    bool same;
};

class SameFile : public ::testing::TestWithParam<SameFileRow> {};

TEST_P(SameFile, FoldsAsciiLettersOnly) {
    EXPECT_EQ(NamesSameFile(GetParam().a, GetParam().b), GetParam().same) << GetParam().a;
}

// "\x82\x60" and "\x82\x81" are full-width A and a; "\x83\x41" has an ASCII
// 'A' as its trail byte.
INSTANTIATE_TEST_SUITE_P(
    Table, SameFile,
    ::testing::Values(SameFileRow{"C:\\dl\\MyPkg.exe", "c:\\DL\\mypkg.EXE", true},
                      SameFileRow{"C:\\dl\\pkg.exe", "C:\\dl\\pkg.exe.", false},
                      SameFileRow{"C:\\dl\\pkg.exe", "C:\\dl\\pkg.msi", false},
                      SameFileRow{"C:\\dl\\\x83\x41.exe", "C:\\dl\\\x83\x61.exe", false},
                      SameFileRow{"C:\\dl\\\x82\x60.exe", "C:\\dl\\\x82\x81.exe", false},
                      SameFileRow{"C:\\dl\\\x83\x41.exe", "C:\\DL\\\x83\x41.EXE", true}));

struct FreshRow {
    std::string temp, folder, package;  // empty: does not fit
};

class FreshPaths : public ::testing::TestWithParam<FreshRow> {};

TEST_P(FreshPaths, PutThePackageUnderItsOwnNameInAFolderOfItsOwn) {
    char folder[kPathSize], package[kPathSize];
    const bool fits = FreshPackagePaths(folder, package, GetParam().temp.c_str(), 0x1234, 0xabcdef01,
                                        "install");
    EXPECT_EQ(fits, !GetParam().folder.empty());
    EXPECT_EQ(folder, GetParam().folder);
    EXPECT_EQ(package, GetParam().package);
}

const std::string kLongTemp = "C:\\" + std::string(220, 't') + "\\";  // 224 bytes

// The longest temporary folder that fits leaves the package 259 bytes, its
// terminating zero the 260th; one byte more does not fit.
INSTANTIATE_TEST_SUITE_P(
    Table, FreshPaths,
    ::testing::Values(FreshRow{"C:\\TEMP\\", "C:\\TEMP\\setup-00001234-abcdef01",
                               "C:\\TEMP\\setup-00001234-abcdef01\\install.msi"},
                      FreshRow{kLongTemp, kLongTemp + "setup-00001234-abcdef01",
                               kLongTemp + "setup-00001234-abcdef01\\install.msi"},
                      FreshRow{kLongTemp + "u", "", ""}));

}  // namespace
