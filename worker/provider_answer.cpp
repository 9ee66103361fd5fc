// Reads a provider's answer codes; see provider_answer.h.
#include "worker/provider_answer.h"

#include <cstring>

namespace {

// Every code word, NUL-terminated in a slot of kSlot bytes, in the order of
// AnswerCode, None's empty word first.
constexpr size_t kSlot = kLongestAnswerCode + 1;
const char kCodeWords[] =
    "\0\0\0\0\0\0\0\0\0good\0\0\0\0\0nochg\0\0\0\0" "911\0\0\0\0\0\0dnserr\0\0\0"
    "badauth\0\0badagent\0nohost\0\0\0notfqdn\0\0numhost\0\0abuse\0\0\0\0"
    "!donator\0!yours";

AnswerCode CodeOf(const char* word) {
    for (uint8_t code = 0; code <= static_cast<uint8_t>(AnswerCode::NotYours); ++code) {
        if (std::strcmp(word, kCodeWords + code * kSlot) == 0) return static_cast<AnswerCode>(code);
    }
    return AnswerCode::None;
}

// Stop codes outrank wait codes, which outrank successes, which outrank no
// code.
int Rank(AnswerCode code) {
    static const uint8_t kRanks[] = {0, 1, 1, 2, 2, 3, 3, 3, 3, 3, 3, 3, 3};
    static_assert(sizeof kRanks == static_cast<size_t>(AnswerCode::NotYours) + 1, "a rank per code");
    return kRanks[static_cast<uint8_t>(code)];
}

}  // namespace

void StartAnswer(AnswerReader* reader) { std::memset(reader, 0, sizeof *reader); }

void FeedAnswer(AnswerReader* reader, const void* data, size_t size) {
    const char* bytes = static_cast<const char*>(data);
    for (size_t i = 0; i < size; ++i) {
        char c = bytes[i];
        const bool wordEnds = c == ' ' || c == '\t' || c == '\r' || c == '\n';
        if (reader->length < kLineJudged) {
            // A word that has outgrown every code word is judged (as none)
            // without waiting for its end.
            if (wordEnds || reader->length > kLongestAnswerCode) {
                // Only a weightier code than the answer so far changes it:
                // the first line's code outweighs the None it starts from.
                const AnswerCode code = CodeOf(reader->word);
                if (Rank(code) > Rank(reader->verdict)) reader->verdict = code;
                reader->length = kLineJudged;
            } else {
                if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
                reader->word[reader->length++] = c;
                reader->word[reader->length] = '\0';
            }
        }
        // A first line without a code leaves the body uncoded: no later
        // line is judged.
        if (c == '\n' && reader->verdict != AnswerCode::None) reader->length = reader->word[0] = 0;
    }
}

AnswerCode FinishAnswer(AnswerReader* reader) {
    FeedAnswer(reader, "\n", 1);  // the last line ends with the body
    return reader->verdict;
}

const char* AnswerCodeText(AnswerCode code) {
    return kCodeWords + static_cast<uint8_t>(code) * kSlot;
}
