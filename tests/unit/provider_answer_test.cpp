// A provider's answer codes, read from bodies as they arrive in chunks.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "row_name.h"
#include "worker/provider_answer.h"

namespace {

AnswerCode Read(const std::vector<std::string>& chunks) {
    AnswerReader reader;
    StartAnswer(&reader);
    for (const std::string& chunk : chunks) FeedAnswer(&reader, chunk.data(), chunk.size());
    return FinishAnswer(&reader);
}

struct AnswerRow {
    std::vector<std::string> chunks;
    AnswerCode code;
};

class Answer : public ::testing::TestWithParam<AnswerRow> {};

TEST_P(Answer, IsTheWeightiestCodeOfAnAnswerWhoseFirstLineIsCoded) {
    const AnswerCode code = Read(GetParam().chunks);
    EXPECT_EQ(code, GetParam().code) << "read " << AnswerCodeText(code);
}

using C = AnswerCode;
INSTANTIATE_TEST_SUITE_P(
    Table, Answer,
    ::testing::Values(AnswerRow{{"good"}, C::Good}, AnswerRow{{"nochg"}, C::NoChange},
                      AnswerRow{{"badauth"}, C::BadAuth}, AnswerRow{{"badagent"}, C::BadAgent},
                      AnswerRow{{"nohost"}, C::NoHost}, AnswerRow{{"notfqdn"}, C::NotFqdn},
                      AnswerRow{{"numhost"}, C::NumHost}, AnswerRow{{"abuse"}, C::Abuse},
                      AnswerRow{{"!donator"}, C::NotDonator}, AnswerRow{{"!yours"}, C::NotYours},
                      AnswerRow{{"911"}, C::ServerError}, AnswerRow{{"dnserr"}, C::DnsError},
                      AnswerRow{{"good 93.184.216.34"}, C::Good},
                      AnswerRow{{"NoChg\t93.184.216.34\n"}, C::NoChange},
                      AnswerRow{{"goodbye"}, C::None}, AnswerRow{{"good,"}, C::None},
                      AnswerRow{{"badagents"}, C::None}, AnswerRow{{" good"}, C::None},
                      AnswerRow{{""}, C::None}, AnswerRow{{"\nbadauth"}, C::None},
                      AnswerRow{{"good 192.0.2.1\nnohost"}, C::NoHost},
                      AnswerRow{{"nochg\n911\n"}, C::ServerError},
                      AnswerRow{{"911\nnohost\nbadauth"}, C::NoHost},
                      AnswerRow{{"good\r\nbadauth\r\n"}, C::BadAuth},
                      AnswerRow{{"bada", "uth 1"}, C::BadAuth},
                      AnswerRow{{"good 192.0.2.1\nnumh", "ost\n"}, C::NumHost},
                      AnswerRow{{"<html>\nbadauth\n"}, C::None}),
    [](const auto& info) { return rows::Name(info.index, info.param.chunks); });

TEST(AnswerCodes, ReadBackFromTheirTextsAndStopOrWaitAsProvidersDocument) {
    std::string stops, waits;
    for (int i = 0; i <= static_cast<int>(C::NotYours); ++i) {
        const AnswerCode code = static_cast<AnswerCode>(i);
        EXPECT_EQ(Read({AnswerCodeText(code)}), code) << AnswerCodeText(code);
        if (IsStopCode(code)) stops += std::string(AnswerCodeText(code)) + " ";
        if (IsWaitCode(code)) waits += std::string(AnswerCodeText(code)) + " ";
    }
    EXPECT_EQ(stops, "badauth badagent nohost notfqdn numhost abuse !donator !yours ");
    EXPECT_EQ(waits, "911 dnserr ");
}

}  // namespace
