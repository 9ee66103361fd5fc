// What the optional provider settings decide without the operating system:
// whether a streamed body holds the success text, how soon a failed update
// is tried again, the entries of the check setting, and the credentials
// header for a user and password.
#pragma once

#include <cstddef>
#include <cstdint>

// okbody, agent, user, password and proxy: at most 255 bytes each.
constexpr size_t kShortSettingSize = 256;
// checkurl holds up to this many entries, separated by blanks: each a URL
// or local6, tried in turn.
constexpr int kCheckEntries = 4;

// Looks for a text in a body that arrives in chunks, without holding the
// body: the state is how long a start of the text the bytes so far end in,
// so a match that straddles two chunks is found like any other.
struct BodyMatch {
    const char* text;
    size_t length;
    size_t matched;
    bool found;
    uint8_t fallback[kShortSettingSize];  // longest proper border of each prefix
};
// text: at most kShortSettingSize - 1 bytes, NUL-terminated, not empty.
void StartBodyMatch(BodyMatch* match, const char* text);
void FeedBodyMatch(BodyMatch* match, const void* data, size_t size);

// value * unit in 32 bits, the largest 32-bit value where it does not fit.
uint32_t SaturatingProduct(uint32_t value, uint32_t unit);

// How long after a failed update the next one is due: retry for the first
// failure in a row, doubling with each further one, never past interval.
uint32_t RetryDelayMs(uint32_t retryMs, uint32_t failuresInARow, uint32_t intervalMs);

// The entry of a check setting that starts at or after *at (blanks skipped),
// into entry (cut to size); *at then points behind it. False at the end.
bool NextCheckEntry(const char** at, char* entry, size_t size);

// "Authorization: Basic <base64 of user:password>\r\n" in header; false
// (and header empty) when it does not fit in size bytes.
bool BasicAuthorizationHeader(const char* user, const char* password, char* header, size_t size);

// Milliseconds since a moment, from the 32-bit tick count, which wraps
// every 49.7 days. Read at every tick, it notices when the time since that
// moment has passed 2^32 ms (the count came round below where it was) and
// from then on reports more than any 32-bit wait: every wait up to the
// largest one is reached, none is jumped over by the wrap.
struct Stopwatch {
    uint32_t start;
    uint32_t last;
    bool over;
};
void StartStopwatch(Stopwatch* watch, uint32_t now);
uint64_t ReadStopwatch(Stopwatch* watch, uint32_t now);

// The URL with each "{address}" replaced by address, in out (size bytes);
// false when the result does not fit. Walks characters, so the trail byte
// of a double-byte character is never taken for a brace.
bool WithAddress(const char* url, const char* address, char* out, size_t size);
bool HasAddressMarker(const char* url);

// A fingerprint of texts, to tell whether they changed: of one text, or of
// several chained, Fingerprint(b, Fingerprint(a)).
constexpr uint32_t kFingerprintStart = 2166136261u;
uint32_t Fingerprint(const char* text, uint32_t hash = kFingerprintStart);
