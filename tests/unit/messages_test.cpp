// Recording events, and the two copies of the message catalogue agreeing.
// Compiled with code page 932 as its execution character set, like the
// catalogue itself.
#include <gtest/gtest.h>

#include <climits>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <set>
#include <sstream>
#include <string>

#include "fake_platform.h"
#include "service/service.h"
#include "worker/messages.h"
#include "worker/settings.h"

using fake::state;

namespace {

class Messages : public ::testing::Test {
protected:
    void SetUp() override { fake::Reset(); }
};

TEST_F(Messages, StatusLineCarriesDateTimeAndText) {
    state.now = {2012, 7, 3, 9, 5, 1};
    RecordEvent(MSG_URL_FETCHED);
    EXPECT_EQ(fake::StatusLine(), "2012/07/03,09:05:01 URL取得に成功しました。");

    state.now = {2026, 12, 31, 23, 59, 59};
    RecordEvent(MSG_HTTP_EXCEPTION);
    EXPECT_EQ(fake::StatusLine(), "2026/12/31,23:59:59 HTTP通信中に例外が発生しました。");
}

// The stamp is built by hand: every number as the C library writes it.
TEST_F(Messages, StampWritesAnyNumberAsPrintfDoes) {
    const platform::LocalTime times[] = {{0, 0, 0, 0, 0, 0},
                                         {-5, 100, -1, 7, 59, 60},
                                         {INT_MIN, INT_MAX, INT_MIN, INT_MAX, INT_MIN, INT_MAX}};
    for (const platform::LocalTime& t : times) {
        char expected[kStatusLineSize + 32];
        std::snprintf(expected, sizeof expected, "%d/%.2d/%.2d,%.2d:%.2d:%.2d %s", t.year, t.month,
                      t.day, t.hour, t.minute, t.second, "text");
        char line[kStatusLineSize];
        FormatStatusLine(t, "text", line);
        EXPECT_STREQ(line, expected);
    }
}

TEST_F(Messages, EventsGoToTheLogWithTheTypeOfTheirSeverity) {
    RecordEvent(MSG_HTTP_STATUS_NOT_OK);
    RecordEvent(MSG_URL_NOT_SET);
    RecordEvent(MSG_SERVICE_START);
    RecordEvent(0x00000010);  // success severity
    const std::vector<std::pair<uint16_t, uint32_t>> expected = {
        {1, MSG_HTTP_STATUS_NOT_OK}, {2, MSG_URL_NOT_SET}, {4, MSG_SERVICE_START}, {8, 0x10}};
    EXPECT_EQ(state.events, expected);
}

TEST_F(Messages, FetchingChangesTheStatusLineButNeverReachesTheEventLog) {
    RecordEvent(MSG_URL_FETCHING);
    EXPECT_TRUE(state.events.empty());
    EXPECT_EQ(fake::StatusLine(), "2012/07/03,09:05:01 URL取得中・・・。");
}

TEST_F(Messages, UnknownIdReachesTheLogWithTheMemoryErrorTextInTheStatusLine) {
    RecordEvent(0xC0001234);
    EXPECT_EQ(state.events.back().second, 0xC0001234u);
    EXPECT_EQ(fake::StatusLine(), "2012/07/03,09:05:01 メモリエラー。");
}

TEST_F(Messages, StatusLineIsWrittenEvenWhenTheEventLogFails) {
    state.eventLogFails = true;
    RecordEvent(MSG_SERVICE_START);
    EXPECT_EQ(fake::StatusLine(), "2012/07/03,09:05:01 Pelkorサービスを開始します。");
}

// ---- the data table against the message-table source -------------------

struct SourceMessage {
    uint32_t id;
    std::string text;  // lines joined by CR LF, as the resource holds them
};

// Reads resources/messages.mc (code page 932) as windmc does for our
// entries: MessageId, Severity and the text lines up to a lone ".".
std::vector<SourceMessage> ReadMessageSource() {
    std::ifstream in(std::string(SOURCE_DIR) + "/resources/messages.mc", std::ios::binary);
    std::vector<SourceMessage> messages;
    std::string line;
    uint32_t number = 0, severity = 0;
    bool inText = false;
    SourceMessage current{};
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (inText) {
            if (line == ".") {
                messages.push_back(current);
                inText = false;
            } else {
                current.text += line + "\r\n";
            }
        } else if (line.rfind("MessageId=", 0) == 0) {
            number = std::stoul(line.substr(10));
        } else if (line.rfind("Severity=", 0) == 0) {
            const std::string name = line.substr(9);
            severity = name == "Error" ? 3 : name == "Warning" ? 2 : name == "Informational" ? 1 : 0;
        } else if (line.rfind("Language=", 0) == 0) {
            current = SourceMessage{(severity << 30) | number, ""};
            inText = true;
        }
    }
    return messages;
}

TEST(Catalogue, DataTableAndMessageTableCarryTheSameIdsAndTexts) {
    const std::vector<SourceMessage> source = ReadMessageSource();
    ASSERT_EQ(source.size(), kCatalogueRows);
    std::set<uint32_t> ids;
    const char* text = kCatalogueTexts;
    for (size_t i = 0; i < kCatalogueRows; ++i, text += std::strlen(text) + 1) {
        SCOPED_TRACE(i);
        EXPECT_EQ(kCatalogueIds[i], source[i].id);
        EXPECT_TRUE(ids.insert(kCatalogueIds[i]).second) << std::hex << kCatalogueIds[i];
        std::string expected = text;
        if (expected == "%s%s") {
            // the generic entries: a title line, then the two insertions
            EXPECT_NE(source[i].text.find("\r\n%1%2\r\n"), std::string::npos);
            continue;
        }
        // The data's insertion mark is the resource's first insertion string.
        const size_t mark = expected.find("%s");
        if (mark != std::string::npos) expected.replace(mark, 2, "%1");
        EXPECT_EQ(expected + "\r\n", source[i].text);
        char formatted[kMessageTextSize];
        FormatCatalogueText(kCatalogueIds[i], "notfqdn", formatted);
        EXPECT_LT(std::strlen(formatted), sizeof formatted - 1);  // never cut
    }
    EXPECT_STREQ(CatalogueText(0xC0001234), "メモリエラー。");
}

// A message's insertion: record 1's event carries it, the status line shows
// it in place.
TEST_F(Messages, AnInsertionReachesTheEventAndTheStatusLine) {
    RecordEvent(MSG_REFUSED_HOST, "nohost");
    EXPECT_EQ(state.eventStrings.back(), std::vector<std::string>{"nohost"});
    EXPECT_EQ(fake::StatusLine(), "2012/07/03,09:05:01 応答nohostで停止。ホスト名を確認して下さい。");
}

TEST(ServiceIdentity, DescriptionIsTheJapaneseTextIn64BytesOfCodePage932) {
    EXPECT_STREQ(kServiceDescription, "定期的に特定URLにアクセスします。Dynamic DNSのIPアップデータ用。");
    EXPECT_EQ(std::strlen(kServiceDescription), 64u);
}

}  // namespace
