// How setup reads its command line and splits a path. Compiled with code
// page 932 as its execution character set, like setup's own texts.
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
                      // A lead byte takes the byte behind it, a quote too.
                      SkipRow{"\"C:\\dl\\\x83\"\" /qn", "/qn"},
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
                      UninstallRow{"/uninstallx", false},
                      // 表 is 95 5C: its trail byte escapes no closing quote.
                      UninstallRow{"TARGETDIR=\"C:\\ソフト\\一覧表\" /x", true},
                      UninstallRow{"/x \x83", true}),
    [](const auto& info) { return rows::Name(info.index, {info.param.text}); });

TEST(JoinInto, RefusesWhatDoesNotFitAndLeavesNothingBehind) {
    char out[8];
    EXPECT_TRUE(JoinInto(out, sizeof out, "ab", "cd", "efg"));
    EXPECT_STREQ(out, "abcdefg");
    EXPECT_FALSE(JoinInto(out, sizeof out, "abcd", "efgh"));
    EXPECT_STREQ(out, "");
}

// ---- path rules of the build and launch modes -------------------------------

struct SplitRow {
    const char* name;
    const char* path;
    const char* folder;
    const char* base;  // both empty: does not fit
};

class PathSplit : public ::testing::TestWithParam<SplitRow> {};

TEST_P(PathSplit, FindsFolderAndNameByWholeCharacters) {
    char folder[kPathSize], base[kPathSize];
    EXPECT_EQ(SplitPath(GetParam().path, folder, base), *GetParam().base != '\0');
    EXPECT_STREQ(folder, GetParam().folder);
    EXPECT_STREQ(base, GetParam().base);
}

const std::string kLongName = "C:\\dl\\" + std::string(kPathSize, 'n') + ".msi";

INSTANTIATE_TEST_SUITE_P(
    Table, PathSplit,
    ::testing::Values(SplitRow{"Plain", "C:\\dl\\setup.exe", "C:\\dl\\", "setup"},
                      SplitRow{"DotsInFolderAndName", "D:/x.y/a.b.msi", "D:/x.y/", "a.b"},
                      SplitRow{"DriveOnly", "C:pkg", "C:", "pkg"},
                      // ソ (83 5C) and 表 (95 5C) end in no backslash.
                      SplitRow{"JapaneseFolderAndName", "C:\\ソフト\\一覧表.msi", "C:\\ソフト\\", "一覧表"},
                      SplitRow{"JapaneseNameLast", "C:\\dl\\一覧表", "C:\\dl\\", "一覧表"},
                      SplitRow{"NameTooLong", kLongName.c_str(), "", ""}),
    [](const auto& info) { return rows::Name(info.index, {info.param.name}); });

struct FreshRow {
    const char* name;
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
    ::testing::Values(FreshRow{"ShortTemp", "C:\\TEMP\\", "C:\\TEMP\\setup-00001234-abcdef01",
                               "C:\\TEMP\\setup-00001234-abcdef01\\install.msi"},
                      FreshRow{"LongestTempThatFits", kLongTemp, kLongTemp + "setup-00001234-abcdef01",
                               kLongTemp + "setup-00001234-abcdef01\\install.msi"},
                      FreshRow{"TempOneByteTooLong", kLongTemp + "u", "", ""}),
    [](const auto& info) { return rows::Name(info.index, {info.param.name}); });

}  // namespace
