// Portable rules of the optional provider settings; see provider_rules.h.
#include "worker/provider_rules.h"

#include <cstring>

#include "worker/text.h"

void StartBodyMatch(BodyMatch* match, const char* text) {
    match->text = text;
    match->length = std::strlen(text);
    if (match->length >= kShortSettingSize) match->length = kShortSettingSize - 1;
    match->matched = 0;
    match->found = match->length == 0;
    // Knuth-Morris-Pratt: fallback[i] is the longest proper prefix of
    // text[0..i] that is also its suffix.
    if (match->length > 0) match->fallback[0] = 0;
    size_t border = 0;
    for (size_t i = 1; i < match->length; ++i) {
        while (border > 0 && text[i] != text[border]) border = match->fallback[border - 1];
        if (text[i] == text[border]) ++border;
        match->fallback[i] = static_cast<uint8_t>(border);
    }
}

void FeedBodyMatch(BodyMatch* match, const void* data, size_t size) {
    const char* bytes = static_cast<const char*>(data);
    for (size_t i = 0; i < size && !match->found; ++i) {
        while (match->matched > 0 && bytes[i] != match->text[match->matched]) {
            match->matched = match->fallback[match->matched - 1];
        }
        if (bytes[i] == match->text[match->matched]) ++match->matched;
        if (match->matched == match->length) match->found = true;
    }
}

uint32_t SaturatingProduct(uint32_t value, uint32_t unit) {
    const uint64_t product = static_cast<uint64_t>(value) * unit;
    return product > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(product);
}

uint32_t RetryDelayMs(uint32_t retryMs, uint32_t failuresInARow, uint32_t intervalMs) {
    uint32_t delay = retryMs;
    for (uint32_t i = 1; i < failuresInARow && delay < intervalMs; ++i) {
        delay = SaturatingProduct(delay, 2);
    }
    return delay < intervalMs ? delay : intervalMs;
}

namespace {
bool IsBlank(char c) { return c == ' ' || c == '\t'; }
}  // namespace

bool NextCheckEntry(const char** at, char* entry, size_t size) {
    const char* p = *at;
    while (IsBlank(*p)) ++p;
    const char* start = p;
    while (*p && !IsBlank(*p)) ++p;
    *at = p;
    CopyCut(entry, size, start, static_cast<size_t>(p - start));
    return p > start;
}

bool BasicAuthorizationHeader(const char* user, const char* password, char* header, size_t size) {
    static const char kAlphabet[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    static const char kPrefix[] = "Authorization: Basic ";
    const size_t userLength = std::strlen(user);
    const size_t passwordLength = std::strlen(password);
    const size_t plain = userLength + 1 + passwordLength;
    const size_t needed = sizeof kPrefix - 1 + (plain + 2) / 3 * 4 + 2 + 1;
    if (size == 0) return false;
    header[0] = '\0';
    if (needed > size) return false;

    // Takes byte i of "user:password" without building it.
    auto at = [&](size_t i) -> uint32_t {
        const char c = i < userLength ? user[i] : i == userLength ? ':' : password[i - userLength - 1];
        return static_cast<unsigned char>(c);
    };
    char* out = header;
    std::memcpy(out, kPrefix, sizeof kPrefix - 1);
    out += sizeof kPrefix - 1;
    for (size_t i = 0; i < plain; i += 3) {
        const size_t left = plain - i;
        const uint32_t group = at(i) << 16 | (left > 1 ? at(i + 1) << 8 : 0) | (left > 2 ? at(i + 2) : 0);
        *out++ = kAlphabet[group >> 18 & 63];
        *out++ = kAlphabet[group >> 12 & 63];
        *out++ = left > 1 ? kAlphabet[group >> 6 & 63] : '=';
        *out++ = left > 2 ? kAlphabet[group & 63] : '=';
    }
    *out++ = '\r';
    *out++ = '\n';
    *out = '\0';
    return true;
}

void StartStopwatch(Stopwatch* watch, uint32_t now) {
    watch->start = now;
    watch->last = 0;
    watch->over = false;
}

uint64_t ReadStopwatch(Stopwatch* watch, uint32_t now) {
    const uint32_t elapsed = now - watch->start;  // modulo 2^32
    if (elapsed < watch->last) watch->over = true;
    watch->last = elapsed;
    return watch->over ? uint64_t{1} << 32 : elapsed;
}

namespace {
const char kAddressMarker[] = "{address}";

// The next "{address}" in text at or after p, walking whole characters.
const char* NextMarker(const char* p) {
    for (; *p; p = NextCharacter(p)) {
        if (std::strncmp(p, kAddressMarker, sizeof kAddressMarker - 1) == 0) return p;
    }
    return nullptr;
}
}  // namespace

bool HasAddressMarker(const char* url) { return NextMarker(url) != nullptr; }

bool WithAddress(const char* url, const char* address, char* out, size_t size) {
    size_t used = 0;
    const size_t addressLength = std::strlen(address);
    for (;;) {
        const char* marker = NextMarker(url);
        const size_t take = marker ? static_cast<size_t>(marker - url) : std::strlen(url);
        const size_t add = take + (marker ? addressLength : 0);
        if (used + add >= size) {
            if (size) out[0] = '\0';
            return false;
        }
        std::memcpy(out + used, url, take);
        if (marker) std::memcpy(out + used + take, address, addressLength);
        used += add;
        if (!marker) break;
        url = marker + sizeof kAddressMarker - 1;
    }
    out[used] = '\0';
    return true;
}

uint32_t Fingerprint(const char* text, uint32_t hash) {
    // FNV-1a, the NUL too: "ab","c" and "a","bc" differ.
    for (const char* p = text;; ++p) {
        hash = (hash ^ static_cast<unsigned char>(*p)) * 16777619u;
        if (!*p) return hash;
    }
}
