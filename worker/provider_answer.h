// What a Dynamic DNS provider's answer says, read from the codes its body
// begins with ("good 192.0.2.1", "badauth", one line per host name), as the
// body streams past: the body is never held.
#pragma once

#include <cstddef>
#include <cstdint>

// Ordered by weight, each kind one range: the successes; the codes after
// which the client waits at least 30 minutes; the codes after which nothing
// more may be sent until the user acts.
enum class AnswerCode : uint8_t {
    None,  // the body is no coded answer
    Good,
    NoChange,
    ServerError,  // "911"
    DnsError,
    BadAuth,
    BadAgent,
    NoHost,
    NotFqdn,
    NumHost,
    Abuse,
    NotDonator,
    NotYours,
};

inline bool IsStopCode(AnswerCode code) { return code >= AnswerCode::BadAuth; }
inline bool IsWaitCode(AnswerCode code) {
    return code >= AnswerCode::ServerError && code < AnswerCode::BadAuth;
}

// The longest code word ("badagent", "!donator").
constexpr size_t kLongestAnswerCode = 8;
// A line's length once it has been judged: the rest of it does not count.
constexpr uint8_t kLineJudged = kLongestAnswerCode + 2;

// What is kept between chunks: the start of the line under way, never more.
struct AnswerReader {
    // Lower-cased and NUL-terminated; one byte longer than any code word is
    // enough to tell that it is none.
    char word[kLongestAnswerCode + 2];
    uint8_t length;  // of word, or kLineJudged
    AnswerCode verdict;  // of the lines judged so far
};

void StartAnswer(AnswerReader* reader);
void FeedAnswer(AnswerReader* reader, const void* data, size_t size);
// The answer, once the last chunk has been fed (the end of the body ends
// its last line). A body whose first line does not begin with a code word
// is None. Otherwise every line counts: the first line that begins with a
// stop code, else the first with a wait code, else the first line's code.
// A code word is followed by a blank (space or tab), a line end (LF, or CR
// LF) or the end of the body, and is compared without regard to ASCII case.
AnswerCode FinishAnswer(AnswerReader* reader);

// The code's word as providers spell it ("badauth", "!yours", "911"); ""
// for None.
const char* AnswerCodeText(AnswerCode code);
