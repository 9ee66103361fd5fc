// The status line's way into the settings file: the text edit, the rewrite
// over the fake's files (full disk, read-only file, saves racing it), and
// which folder lists let others replace the program.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "fake_platform.h"
#include "worker/folder_access.h"
#include "worker/settings_file.h"

using fake::state;

namespace {

// ---- SetIniValue: [log] lastlog=V into the text -------------------------

struct EditRow {
    const char* name;
    std::string before;
    std::string after;  // "" when the text is not to be edited
};

class IniEdit : public ::testing::TestWithParam<EditRow> {};

TEST_P(IniEdit, ChangesOnlyTheStatusLine) {
    const std::string& before = GetParam().before;
    std::vector<char> out(before.size() + IniValueRoom("log", "lastlog", "V"));
    const size_t size =
        SetIniValue(before.data(), before.size(), "log", "lastlog", "V", out.data());
    EXPECT_EQ(std::string(out.data(), size), GetParam().after);
}

INSTANTIATE_TEST_SUITE_P(
    Table, IniEdit,
    ::testing::Values(
        EditRow{"OnlyTheValueChanges",
                "[setting]\r\nurl = http://x/\r\n\r\n; note\r\n[log]\r\nlastlog=old\r\n[x]\r\n",
                "[setting]\r\nurl = http://x/\r\n\r\n; note\r\n[log]\r\nlastlog=V\r\n[x]\r\n"},
        EditRow{"TheUsersSpellingAndBlanksStay", "[LOG]\r\n  LastLog = old  \r\n",
                "[LOG]\r\n  LastLog =V  \r\n"},
        EditRow{"AMissingKeyFollowsTheSectionsLastLine", "[log]\r\na=1\r\n\r\n[next]\r\n",
                "[log]\r\na=1\r\nlastlog=V\r\n\r\n[next]\r\n"},
        EditRow{"AMissingSectionGoesAtTheEnd", "[setting]\r\nurl=u\r\n",
                "[setting]\r\nurl=u\r\n[log]\r\nlastlog=V\r\n"},
        EditRow{"AnUnendedLastLineIsEndedFirst", "[log]\na=1", "[log]\na=1\r\nlastlog=V\r\n"},
        EditRow{"AnEmptyFileGetsSectionAndKey", "", "[log]\r\nlastlog=V\r\n"},
        EditRow{"TheFirstSectionOfThatNameCounts", "[log]\r\n[x]\r\n[log]\r\nlastlog=old\r\n",
                "[log]\r\nlastlog=V\r\n[x]\r\n[log]\r\nlastlog=old\r\n"},
        EditRow{"TheFirstLineOfThatNameCounts", "[log]\r\nlastlog=a\r\nlastlog=b\r\n",
                "[log]\r\nlastlog=V\r\nlastlog=b\r\n"},
        EditRow{"ANameAloneIsTheKey", "[log]\r\nlastlog\r\nlastlog=b\r\n",
                "[log]\r\nlastlog=V\r\nlastlog=b\r\n"},
        EditRow{"KeysBeforeAnySectionAreInNone", "lastlog=a\r\n",
                "lastlog=a\r\n[log]\r\nlastlog=V\r\n"},
        EditRow{"BlanksAroundASectionNameAreTrimmed", " [ log ] \r\n",
                " [ log ] \r\nlastlog=V\r\n"},
        EditRow{"TheSectionNameRunsToTheLastBracket", "[log]]\r\nlastlog=a\r\n",
                "[log]]\r\nlastlog=a\r\n[log]\r\nlastlog=V\r\n"},
        // U+30BE is 83 5D in code page 932: its second byte is a ']'.
        EditRow{"TheSectionEndsAtTheLastBracketCharacter", "[log] ;\x83]\r\nlastlog=a\r\n",
                "[log] ;\x83]\r\nlastlog=V\r\n"},
        EditRow{"ABracketByteInACharacterClosesNothing", "[log\x83]\r\nlastlog=a\r\n",
                "[log\x83]\r\nlastlog=a\r\n[log]\r\nlastlog=V\r\n"},
        EditRow{"AUtf8MarkIsNoPartOfTheFirstLine", "\xEF\xBB\xBF[log]\r\nlastlog=a\r\n",
                "\xEF\xBB\xBF[log]\r\nlastlog=V\r\n"},
        EditRow{"Utf16IsNotEdited", std::string("\xFF\xFE[\0l\0", 6), ""}),
    [](const auto& info) { return std::string(info.param.name); });

// ---- RewriteIniValue over the fake's files -------------------------------

const char kIni[] = "C:\\p\\pelkor.ini";
const std::string kFresh = std::string(kIni) + ".4242.writing";
const std::string kKept = std::string(kIni) + ".4242.replaced";
const std::string kUserText = "[setting]\r\nurl=old\r\n\r\n[log]\r\nlastlog=1\r\n";
const std::string kSavedText = "[setting]\r\nurl=new\r\n\r\n[log]\r\nlastlog=1\r\n";

// The user's editor saving: in place (into a new file where the name is
// free), or by renaming a new file over the name.
void SaveInPlace() {
    auto& file = state.disk[kIni];
    (file ? file : file = std::make_shared<fake::State::File>())->text = kSavedText;
}
void SaveByRename() {
    state.disk.erase(kIni);
    SaveInPlace();
}

// Runs action once, at the nth step named so.
void AtStep(const std::string& step, int nth, void (*action)()) {
    auto seen = std::make_shared<int>(0);
    state.onStep = [step, nth, action, seen](const std::string& now) {
        if (now == step && ++*seen == nth) action();
    };
}

struct RewriteRow {
    const char* name;
    void (*script)();
    bool written;
    std::string text;  // the file afterwards
};

class Rewrite : public ::testing::TestWithParam<RewriteRow> {
protected:
    void SetUp() override {
        fake::Reset();
        state.disk[kIni] = std::make_shared<fake::State::File>();
        state.disk[kIni]->text = kUserText;
    }
};

TEST_P(Rewrite, KeepsEveryByteOfTheUser) {
    GetParam().script();
    EXPECT_EQ(RewriteIniValue(kIni, "log", "lastlog", "2"), GetParam().written);
    ASSERT_EQ(state.disk.count(kIni), 1u);
    EXPECT_EQ(state.disk.at(kIni)->text, GetParam().text);
    EXPECT_EQ(state.disk.size(), 1u) << "nothing is left beside the file";
}

const std::string kWritten = "[setting]\r\nurl=old\r\n\r\n[log]\r\nlastlog=2\r\n";
const std::string kSavedAndWritten = "[setting]\r\nurl=new\r\n\r\n[log]\r\nlastlog=2\r\n";

INSTANTIATE_TEST_SUITE_P(
    Table, Rewrite,
    ::testing::Values(
        RewriteRow{"TheStatusLineIsWritten", [] {}, true, kWritten},
        RewriteRow{"AMissingFileIsCreated", [] { state.disk.clear(); }, true,
                   "[log]\r\nlastlog=2\r\n"},
        // Back at the second look, as after a second writer's swap.
        RewriteRow{"AFileMissingForAnInstantIsNotCreatedAnew",
                   [] {
                       state.disk.clear();
                       AtStep(std::string("read ") + kIni, 2, SaveInPlace);
                   },
                   true, kSavedAndWritten},
        RewriteRow{"AFullDiskLeavesTheOldBytes", [] { state.freeBytes = 10; }, false, kUserText},
        RewriteRow{"AReadOnlyFileStays", [] { state.disk.at(kIni)->readOnly = true; }, false,
                   kUserText},
        RewriteRow{"AFileHeldOpenIsWrittenOnceLetGo",
                   [] {
                       state.heldOpen.insert(kIni);
                       AtStep(std::string("remove ") + kIni + ".4242.writing", 1,
                              [] { state.heldOpen.clear(); });
                   },
                   true, kWritten},
        RewriteRow{"AFileHeldOpenForGoodIsLeftAlone", [] { state.heldOpen.insert(kIni); }, false,
                   kUserText},
        RewriteRow{"ALargerFileThanAnySettingsIsLeftAlone",
                   [] { state.disk.at(kIni)->text.append(kSettingsFileLimit, ';'); }, false,
                   kUserText + std::string(kSettingsFileLimit, ';')},
        // A scanner holding the new file: the old one is put back.
        RewriteRow{"AFailedMoveLeavesTheOldFile",
                   [] {
                       state.heldOpen.insert(kFresh);
                       AtStep("remove " + kFresh, 1, [] { state.heldOpen.clear(); });
                   },
                   false, kUserText},
        RewriteRow{"ALeftoverIsNoObstacle",
                   [] { state.disk[kKept] = std::make_shared<fake::State::File>(); }, true,
                   kWritten}),
    [](const auto& info) { return std::string(info.param.name); });

struct RaceRow {
    const char* name;
    std::string step;
    int nth;
    bool refused;
    std::string text;  // the file afterwards
};

class Race : public ::testing::TestWithParam<std::tuple<void (*)(), RaceRow>> {};

// The user saves from a step of the rewrite on: again at each later step
// while the name is held, and after the rewrite if never let in.
TEST_P(Race, TheUsersSaveStands) {
    void (*const save)() = std::get<0>(GetParam());
    const RaceRow& row = std::get<1>(GetParam());
    fake::Reset();
    state.disk[kIni] = std::make_shared<fake::State::File>(fake::State::File{kUserText});
    int seen = 0;
    bool pending = false, saved = false, refused = false;
    state.onStep = [&](const std::string& now) {
        pending = pending || (now == row.step && ++seen == row.nth);
        if (!pending || saved) return;
        if (state.heldOpen.count(kIni)) refused = true;
        else save(), saved = true;
    };
    EXPECT_TRUE(RewriteIniValue(kIni, "log", "lastlog", "2"));
    if (!saved) save();
    EXPECT_EQ(refused, row.refused);
    EXPECT_EQ(state.disk.at(kIni)->text, row.text);
    EXPECT_EQ(state.disk.size(), 1u) << "nothing is left beside the file";
}

INSTANTIATE_TEST_SUITE_P(
    Table, Race,
    ::testing::Combine(
        ::testing::Values(SaveInPlace, SaveByRename),
        ::testing::Values(
            RaceRow{"AtTheSnapshot", std::string("read ") + kIni, 1, false, kSavedAndWritten},
            RaceRow{"AtTheWrite", "write " + kFresh, 1, false, kSavedAndWritten},
            // Just before the hold: the last look finds it.
            RaceRow{"AtTheHold", std::string("hold ") + kIni, 1, false, kSavedAndWritten},
            // The second read is the last look, the file held.
            RaceRow{"AtTheReread", std::string("read ") + kIni, 2, true, kSavedAndWritten},
            RaceRow{"AtTheRenameAway", "rename " + kKept, 1, true, kSavedAndWritten},
            RaceRow{"BetweenTheRenames", std::string("move ") + kIni, 1, false,
                    kSavedAndWritten},
            RaceRow{"After", "remove " + kKept, 1, false, kSavedText})),
    [](const auto& info) {
        return (std::get<0>(info.param) == SaveInPlace ? "InPlace" : "ByRename") +
               std::string(std::get<1>(info.param).name);
    });

// The replace carries the file's list; a new file is private from the start.
TEST(RewriteList, TheFilesListStaysAndANewFileIsPrivate) {
    fake::Reset();
    state.disk[kIni] = std::make_shared<fake::State::File>();
    state.disk[kIni]->list = "users may read";
    ASSERT_TRUE(RewriteIniValue(kIni, "log", "lastlog", "2"));
    EXPECT_EQ(state.disk.at(kIni)->list, "users may read");

    state.disk.clear();
    ASSERT_TRUE(RewriteIniValue(kIni, "log", "lastlog", "2"));
    EXPECT_EQ(state.disk.at(kIni)->list, "private");
}

// ---- who may write to the program's folder -------------------------------

struct Entry {
    uint8_t type, flags;
    uint32_t mask;
    std::string sid;  // "S-1-5-18"
};

void Put16(std::string& bytes, uint32_t value) {
    bytes += static_cast<char>(value & 0xFF);
    bytes += static_cast<char>(value >> 8 & 0xFF);
}
void Put32(std::string& bytes, uint32_t value) {
    Put16(bytes, value & 0xFFFF);
    Put16(bytes, value >> 16);
}

// A SID in the platform's layout, from its text.
std::string SidBytes(const std::string& text) {
    std::vector<uint32_t> parts;
    for (size_t at = 4; at <= text.size();) {  // past "S-1-"
        const size_t dash = std::min(text.find('-', at), text.size());
        parts.push_back(static_cast<uint32_t>(std::stoul(text.substr(at, dash - at))));
        at = dash + 1;
    }
    std::string bytes = {1, static_cast<char>(parts.size() - 1), 0, 0, 0, 0, 0,
                         static_cast<char>(parts[0])};
    for (size_t i = 1; i < parts.size(); ++i) Put32(bytes, parts[i]);
    return bytes;
}

// A self-relative security descriptor holding only a list of these
// entries, or no list at all, as the platform reads a folder's.
std::string Descriptor(const std::vector<Entry>& entries, bool hasList) {
    std::string list;
    for (const Entry& entry : entries) {
        const std::string sid = SidBytes(entry.sid);
        list += static_cast<char>(entry.type);
        list += static_cast<char>(entry.flags);
        Put16(list, static_cast<uint32_t>(8 + sid.size()));
        Put32(list, entry.mask);
        list += sid;
    }
    std::string bytes = {1, 0};
    Put16(bytes, 0x8000 | (hasList ? 0x4 : 0));  // self-relative, list present
    Put32(bytes, 0);                              // owner, group, audit list
    Put32(bytes, 0);
    Put32(bytes, 0);
    Put32(bytes, hasList ? 20 : 0);
    if (!hasList) return bytes;
    bytes += {2, 0};
    Put16(bytes, static_cast<uint32_t>(8 + list.size()));
    Put16(bytes, static_cast<uint32_t>(entries.size()));
    Put16(bytes, 0);
    return bytes + list;
}

const char kSystem[] = "S-1-5-18";
const char kAdministrators[] = "S-1-5-32-544";
const char kTrustedInstaller[] = "S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464";
const char kUsers[] = "S-1-5-32-545";
const char kEveryone[] = "S-1-1-0";
const char kCreatorOwner[] = "S-1-3-0";

struct FolderRow {
    const char* name;
    std::vector<Entry> entries;
    bool hasList;
    bool othersMayWrite;
};

class FolderRule : public ::testing::TestWithParam<FolderRow> {};

TEST_P(FolderRule, CountsOnlyEntriesThatLetOthersReplaceAFile) {
    const std::string descriptor = Descriptor(GetParam().entries, GetParam().hasList);
    EXPECT_EQ(OthersMayWrite(descriptor.data(), descriptor.size()), GetParam().othersMayWrite);
}

constexpr uint32_t kFull = 0x1F01FF, kModify = 0x1301BF, kReadExecute = 0x1200A9;
constexpr uint8_t kInherited = 0x03, kInheritOnly = 0x0B;  // both inherit flags (+ inherit only)

INSTANTIATE_TEST_SUITE_P(
    Table, FolderRule,
    ::testing::Values(
        FolderRow{"TheSystemFolder",
                  {{0, 0, kFull, kTrustedInstaller},
                   {0, 0, kModify, kSystem},
                   {0, kInheritOnly, 0x10000000, kSystem},
                   {0, 0, kModify, kAdministrators},
                   {0, 0, kReadExecute, kUsers},
                   {0, kInheritOnly, 0x10000000, kCreatorOwner}},
                  true, false},
        FolderRow{"UsersMayAddFiles", {{0, kInherited, kReadExecute | 0x2, kUsers}}, true, true},
        FolderRow{"UsersMayDeleteFiles", {{0, 0, 0x40, kUsers}}, true, true},
        FolderRow{"EveryoneMayChangeTheList", {{0, 0, 0x40000, kEveryone}}, true, true},
        FolderRow{"UsersMayTakeOwnership", {{0, 0, 0x80000, kUsers}}, true, true},
        FolderRow{"UsersHaveGenericWrite", {{0, 0, 0x40000000, kUsers}}, true, true},
        FolderRow{"UsersHaveGenericAllOnlyBelow", {{0, kInheritOnly, 0x10000000, kUsers}}, true,
                  false},
        FolderRow{"UsersMayOnlyAddFolders", {{0, 0, kReadExecute | 0x4, kUsers}}, true, false},
        FolderRow{"EveryoneIsDenied", {{1, 0, kFull, kEveryone}}, true, false},
        // What Wine reads back for a folder made by Linux mkdir (0755).
        FolderRow{"AWinePrefixFolder",
                  {{0, kInherited, kFull, kSystem},
                   {0, kInherited, kFull, "S-1-5-21-0-0-0-1000"},
                   {0, kInherited, kReadExecute, kEveryone}},
                  true, true},
        FolderRow{"NoListAtAll", {}, false, true},
        FolderRow{"AnEmptyList", {}, true, false}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
