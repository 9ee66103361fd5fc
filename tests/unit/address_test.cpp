// The address of a check answer: real answer shapes, what is refused, and
// the spelling pelkor writes.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "row_name.h"
#include "worker/address.h"

namespace {

struct AnswerRow {
    const char* name;
    std::string body;
    int family;
    AnswerAddress verdict;
    const char* address;  // "" unless Found
};

const AnswerAddress kFound = AnswerAddress::Found, kNone = AnswerAddress::None,
                    kSeveral = AnswerAddress::Several, kUnusable = AnswerAddress::Unusable,
                    kOther = AnswerAddress::OtherFamily;

// head, spaces up to byte at, then text.
std::string At(size_t at, const std::string& head, const std::string& text) {
    return head + std::string(at - head.size(), ' ') + text;
}

class CheckAnswer : public ::testing::TestWithParam<AnswerRow> {};

TEST_P(CheckAnswer, HoldsOneAddressInPelkorsSpelling) {
    const AnswerRow& row = GetParam();
    char address[kAddressTextSize];
    std::memset(address, 'x', sizeof address);
    EXPECT_EQ(FindAnswerAddress(row.body.data(), row.body.size(), row.family, address), row.verdict);
    EXPECT_STREQ(address, row.address);
}

INSTANTIATE_TEST_SUITE_P(
    Table, CheckAnswer,
    ::testing::Values(
        // the shapes real check URLs answer
        AnswerRow{"Bare", "93.184.216.34", 0, kFound, "93.184.216.34"},
        AnswerRow{"BareLf", "93.184.216.34\n", 0, kFound, "93.184.216.34"},
        AnswerRow{"BareCrLf", "2001:db8::7\r\n", 0, kFound, "2001:db8::7"},
        AnswerRow{"Html",
                  "<html><head><title>Current IP Check</title></head><body>Current IP Address: "
                  "93.184.216.34</body></html>",
                  0, kFound, "93.184.216.34"},
        AnswerRow{"Json", R"({"ip":"93.184.216.34"})", 0, kFound, "93.184.216.34"},
        AnswerRow{"TraceLines", "ip=93.184.216.34\nts=1700000000.123\n", 0, kFound, "93.184.216.34"},
        AnswerRow{"SentenceFullStop", "Your address is 93.184.216.34.", 0, kFound, "93.184.216.34"},
        AnswerRow{"Utf8AroundIt", "\xe3\x81\x82" "10.1.2.3\xe3\x80\x82", 0, kFound, "10.1.2.3"},
        AnswerRow{"LoginPage", "<form>User: <input name=user> Password: 1234</form>", 0, kNone, ""},
        // not a whole address
        AnswerRow{"FiveParts", "1.2.3.4.5", 0, kNone, ""},
        AnswerRow{"LetterBefore", "a1.2.3.4", 0, kNone, ""},
        AnswerRow{"LetterAfter", "2001:db8::1x", 0, kNone, ""},
        AnswerRow{"PrefixLength", "1.2.3.4/24", 0, kNone, ""},
        AnswerRow{"Zone", "fe80::1%eth0", 0, kNone, ""},
        AnswerRow{"Port", "1.2.3.4:80", 0, kNone, ""},
        AnswerRow{"LeadingZero", "01.2.3.4", 0, kNone, ""},
        AnswerRow{"PartOver255", "1.2.3.256", 0, kNone, ""},
        AnswerRow{"TwoGaps", "2001::1::2", 0, kNone, ""},
        AnswerRow{"NineGroups", "1:2:3:4:5:6:7:8:9", 0, kNone, ""},
        AnswerRow{"GapForNoGroup", "1:2:3:4:5:6:7::8", 0, kNone, ""},
        AnswerRow{"FiveHexDigits", "2001:db8::12345", 0, kNone, ""},
        AnswerRow{"LoneColonAtAnEnd", ":1:2:3:4:5:6:7:8 1:2:3:4:5:6:7:8:", 0, kNone, ""},
        AnswerRow{"ShortDottedTail", "2001:db8:3:4:5:6:7:1.2", 0, kNone, ""},
        AnswerRow{"ColonInDottedTail", "2001:db8::1.2:3.4", 0, kNone, ""},
        // counting
        AnswerRow{"TwoSpellingsOfOne", "2001:DB8::1 = 2001:0db8:0:0:0:0:0:1", 0, kFound, "2001:db8::1"},
        AnswerRow{"TwoAddresses", "93.184.216.34, 10.0.0.1", 0, kSeveral, ""},
        AnswerRow{"Ipv4AndItsMappedForm", "192.0.2.1 ::ffff:192.0.2.1", 0, kSeveral, ""},
        AnswerRow{"SeveralBeforeUnusable", "127.0.0.1 192.0.2.1", 0, kSeveral, ""},
        AnswerRow{"CutAtTheBoundIsNotRead", At(4090, "192.0.2.1", "2001::1234"), 0, kFound,
                  "192.0.2.1"},
        // family
        AnswerRow{"OnlyTheFamilyAskedFor", "v4 192.0.2.1 v6 2001:db8::1", 6, kFound, "2001:db8::1"},
        AnswerRow{"OtherFamily", "192.0.2.1", 6, kOther, ""},
        AnswerRow{"OtherFamilyMapped", "::ffff:192.0.2.1", 4, kOther, ""},
        // never a record's address
        AnswerRow{"ThisNetwork", "0.1.2.3", 0, kUnusable, ""},
        AnswerRow{"Loopback4", "127.0.0.1", 4, kUnusable, ""},
        AnswerRow{"LinkLocal4", "169.254.10.1", 0, kUnusable, ""},
        AnswerRow{"Multicast4", "224.0.0.251", 0, kUnusable, ""},
        AnswerRow{"Broadcast", "255.255.255.255", 0, kUnusable, ""},
        AnswerRow{"Unspecified6", "::", 0, kUnusable, ""},
        AnswerRow{"Loopback6", "::1", 6, kUnusable, ""},
        AnswerRow{"LinkLocal6", "FEBF::1", 0, kUnusable, ""},
        AnswerRow{"Multicast6", "ff02::1", 0, kUnusable, ""},
        AnswerRow{"Mapped", "::ffff:93.184.216.34", 0, kUnusable, ""},
        // pelkor's spelling of IPv6
        AnswerRow{"LongestRun", "2001:0DB8:0:0:1:0:0:1", 0, kFound, "2001:db8::1:0:0:1"},
        AnswerRow{"RunAtTheEnd", "2001:db8:0:0:0:0:2:1", 0, kFound, "2001:db8::2:1"},
        AnswerRow{"TrailingGap", "2001:db8::", 0, kFound, "2001:db8::"},
        AnswerRow{"DottedTail", "2001:db8:3:4:5:6:1.2.3.4", 0, kFound, "2001:db8:3:4:5:6:102:304"}),
    [](const auto& info) { return rows::Name(info.index, {info.param.name}); });

}  // namespace
