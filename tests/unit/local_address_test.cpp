// The stable IPv6 address of checkurl=local6: which of the machine's own
// addresses is chosen, over the worker's fake, and how it is written.
#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "fake_platform.h"
#include "row_name.h"
#include "worker/local_address.h"

using fake::state;

namespace {

// A preferred address of an up adapter.
platform::LocalIpv6Address Address(const char* text, bool defaultRoute, uint32_t metric) {
    platform::LocalIpv6Address address{};
    EXPECT_EQ(inet_pton(AF_INET6, text, address.bytes), 1) << text;
    address.preferred = address.adapterUp = true;
    address.defaultRoute = defaultRoute;
    address.metric = metric;
    return address;
}
// On the adapter every rule but the address's own would choose.
platform::LocalIpv6Address Best(const char* text) { return Address(text, true, 5); }
// With a random suffix, as Windows gives its temporary addresses and by
// default the one that stays too.
platform::LocalIpv6Address Random(platform::LocalIpv6Address address, uint32_t lifetime,
                                  bool dnsEligible = false) {
    address.randomSuffix = true;
    address.preferredLifetime = lifetime;
    address.dnsEligible = dnsEligible;
    return address;
}
platform::LocalIpv6Address Deprecated(platform::LocalIpv6Address address) {
    address.preferred = false;
    return address;
}
platform::LocalIpv6Address Down(platform::LocalIpv6Address address) {
    address.adapterUp = false;
    return address;
}
// Chosen only when the other address of its row is left out.
const platform::LocalIpv6Address kFallback = Address("2400:cb00::5", false, 50);

// ---- which address ---------------------------------------------------------

struct ChoiceRow {
    const char* name;
    std::vector<platform::LocalIpv6Address> addresses;
    const char* chosen;  // "" for none
};

class StableIpv6 : public ::testing::TestWithParam<ChoiceRow> {
protected:
    void SetUp() override { fake::Reset(); }
};

TEST_P(StableIpv6, IsTheGlobalPreferredAddressThatStaysOfTheBestUpAdapter) {
    state.localIpv6 = GetParam().addresses;
    char address[65];
    std::memset(address, 'x', sizeof address);
    EXPECT_EQ(CheckLocalIpv6(address), GetParam().chosen[0] != '\0');
    EXPECT_STREQ(address, GetParam().chosen);
}

INSTANTIATE_TEST_SUITE_P(
    Table, StableIpv6,
    ::testing::Values(
        ChoiceRow{"TheStableOneBesideWhatWindowsAddsToIt",
                  {Best("fe80::1"), Random(Best("2400:cb00::1"), 86400),
                   Deprecated(Random(Best("2400:cb00::2"), 0)), Best("2400:cb00::7")},
                  "2400:cb00::7"},
        ChoiceRow{"StableBeforeALongerLivedRandomOne",
                  {Random(Best("2400:cb00::1"), 0xFFFFFFFF), kFallback}, "2400:cb00::5"},
        ChoiceRow{"AllRandomTheLongestPreferredLifetime",
                  {Random(Best("2400:cb00::1"), 3600), Random(kFallback, 86400)}, "2400:cb00::5"},
        ChoiceRow{"AllRandomFitForDnsFirst",
                  {Random(Best("2400:cb00::1"), 86400), Random(kFallback, 3600, true)},
                  "2400:cb00::5"},
        ChoiceRow{"Deprecated", {Deprecated(Best("2400:cb00::1")), kFallback}, "2400:cb00::5"},
        ChoiceRow{"LinkLocal", {Best("fe80::1"), kFallback}, "2400:cb00::5"},
        ChoiceRow{"UniqueLocal", {Best("fd00::2"), Best("fc00::2"), kFallback}, "2400:cb00::5"},
        ChoiceRow{"Documentation", {Best("2001:db8::1"), Best("3fff::1"), kFallback},
                  "2400:cb00::5"},
        ChoiceRow{"Teredo", {Best("2001:0:4136:e378::1"), kFallback}, "2400:cb00::5"},
        ChoiceRow{"LoopbackUnspecifiedMulticastMapped",
                  {Best("::1"), Best("::"), Best("ff0e::1"), Best("::ffff:192.0.2.1"), kFallback},
                  "2400:cb00::5"},
        ChoiceRow{"DownAdapter", {Down(Best("2400:cb00::1")), kFallback}, "2400:cb00::5"},
        ChoiceRow{"DefaultRouteBeforeMetric",
                  {Address("2400:cb00::1", false, 1), Address("2a00::9", true, 50)}, "2a00::9"},
        ChoiceRow{"LowestMetric",
                  {Address("2400:cb00::1", true, 20), Address("2a00::9", true, 10)}, "2a00::9"},
        ChoiceRow{"LowestAddress",
                  {Best("2400:cb00::10"), Best("2a00::1"), Best("2400:cb00::9")},
                  "2400:cb00::9"},
        ChoiceRow{"NoneQualifies", {Best("fe80::1"), Deprecated(Best("2400:cb00::1"))}, ""},
        ChoiceRow{"NoAddresses", {}, ""}),
    [](const auto& info) { return rows::Name(info.index, {info.param.name}); });

// ---- how it is written (RFC 5952) ------------------------------------------

struct TextRow {
    const char* address;
    const char* text;
};

class Ipv6Text : public ::testing::TestWithParam<TextRow> {};

TEST_P(Ipv6Text, IsLowerCaseWithTheLongestZeroRunCompressed) {
    const platform::LocalIpv6Address address = Best(GetParam().address);
    char text[65];
    ASSERT_TRUE(PickStableIpv6(&address, 1, text));
    EXPECT_STREQ(text, GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(
    Table, Ipv6Text,
    ::testing::Values(TextRow{"2A0A:00AB:0C00:0001:0:0:0:000F", "2a0a:ab:c00:1::f"},
                      TextRow{"2400:0:0:1:0:0:0:1", "2400:0:0:1::1"},
                      TextRow{"2400:0:0:1:1:0:0:1", "2400::1:1:0:0:1"},
                      TextRow{"2400:1:0:1:1:1:1:1", "2400:1:0:1:1:1:1:1"},
                      TextRow{"2400:1:0:0:0:0:0:0", "2400:1::"},
                      TextRow{"2400:cb00:1:2:3:4:5:6", "2400:cb00:1:2:3:4:5:6"}),
    [](const auto& info) { return rows::Name(info.index, {info.param.text}); });

// The C library writes addresses by the same RFC: any global address with
// zero groups scattered at random reads the same from both.
TEST(Ipv6Writing, MatchesTheCLibraryForRandomZeroRuns) {
    std::mt19937 random(5952);
    for (int round = 0; round < 2000; ++round) {
        platform::LocalIpv6Address address = Best("2400::1");
        address.bytes[1] = static_cast<uint8_t>(random());
        for (int i = 2; i < 16; i += 2) {
            const bool zero = random() % 2 == 0;
            address.bytes[i] = zero ? 0 : static_cast<uint8_t>(random() % 3 ? 0 : random());
            address.bytes[i + 1] = zero ? 0 : static_cast<uint8_t>(random() | 1);
        }
        char text[65], expected[INET6_ADDRSTRLEN];
        ASSERT_TRUE(PickStableIpv6(&address, 1, text));
        ASSERT_NE(inet_ntop(AF_INET6, address.bytes, expected, sizeof expected), nullptr);
        ASSERT_STREQ(text, expected);
    }
}

// ---- the setting's name ------------------------------------------------------

struct NameRow {
    const char* checkUrl;
    bool local;
};

class LocalAddressCheck : public ::testing::TestWithParam<NameRow> {};

TEST_P(LocalAddressCheck, IsSelectedByTheWholeNameInAnyAsciiCase) {
    EXPECT_EQ(IsLocalAddressCheck(GetParam().checkUrl), GetParam().local);
}

INSTANTIATE_TEST_SUITE_P(
    Table, LocalAddressCheck,
    ::testing::Values(NameRow{"local6", true}, NameRow{"LOCAL6", true}, NameRow{"Local6", true},
                      NameRow{"local", false}, NameRow{"local66", false},
                      NameRow{"http://local6/", false}, NameRow{"", false}),
    [](const auto& info) { return rows::Name(info.index, {info.param.checkUrl}); });

}  // namespace
