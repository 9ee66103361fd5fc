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

}  // namespace
