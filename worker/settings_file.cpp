// The settings file on disk: status lines written into it as whole-file
// replacements that never cost the user a byte.
#include "worker/settings_file.h"

#include <cstdlib>
#include <cstring>

#include "common/unique_handle.h"
#include "worker/platform.h"
#include "worker/text.h"

namespace {

// ---- the text, as the profile reader sees it ----------------------------

// The reader's blanks within ASCII (it trims nothing else).
bool IsBlank(char c) { return c == ' ' || (c >= '\t' && c <= '\r') || c == 0x1A; }

void Trim(const char* text, size_t* from, size_t* to) {
    while (*from < *to && IsBlank(text[*from])) ++*from;
    while (*to > *from && IsBlank(text[*to - 1])) --*to;
}

// The first (or the last) character c in text[from, to), else to. The
// reader's code page conversion takes a lead byte and whatever (but NUL)
// follows it as one character: a ']' or '=' byte there is none.
size_t Find(const char* text, size_t from, size_t to, char c, bool last) {
    size_t found = to;
    while (from < to && (last || found == to)) {
        if (text[from] == c) found = from;
        from += IsLeadByte(text[from]) && from + 1 < to && text[from + 1] ? 2 : 1;
    }
    return found;
}

// Whether text[from, to), blanks around it trimmed, is name (without ASCII
// case).
bool IsName(const char* text, size_t from, size_t to, const char* name) {
    Trim(text, &from, &to);
    char found[32];
    return to - from < sizeof found && CopyCut(found, sizeof found, text + from, to - from) &&
           EqualsIgnoringAsciiCase(found, name);
}

char* Put(char* out, const char* text, size_t length) {
    if (length) std::memcpy(out, text, length);  // text is null for a missing file
    return out + length;
}
char* Put(char* out, const char* text) { return Put(out, text, std::strlen(text)); }

// How the key's line comes out: its value replaced after the '=', "=value"
// after a line with the name alone, a new line in the section, or a new
// section.
enum class Edit { Value, EqualsValue, NewKey, NewSection };

}  // namespace

size_t IniValueRoom(const char* section, const char* key, const char* value) {
    // "\r\n[" section "]\r\n" key "=" value "\r\n"
    return std::strlen(section) + std::strlen(key) + std::strlen(value) + 9;
}

// Kept out of line: inlined into its one caller it costs some 200 bytes more.
[[gnu::noinline]] size_t SetIniValue(const char* text, size_t size, const char* section,
                                     const char* key, const char* value, char* out) {
    const unsigned char first = size >= 2 ? static_cast<unsigned char>(text[0]) : 0;
    if ((first == 0xFF && text[1] == '\xFE') || (first == 0xFE && text[1] == '\xFF')) return 0;
    const size_t start = size >= 3 && std::memcmp(text, "\xEF\xBB\xBF", 3) == 0 ? 3 : 0;

    // The text is copied up to keep, the edit goes in, the rest follows from
    // resume on.
    Edit edit = Edit::NewSection;
    size_t keep = size, resume = size;
    for (size_t line = start; line < size;) {
        size_t from = line, to = Find(text, line, size, '\n', false);
        line = to < size ? to + 1 : size;
        Trim(text, &from, &to);
        if (from == to) continue;

        if (text[from] == '[') {
            // The name runs to the line's last ']'; a line without one is no
            // section header.
            const size_t close = Find(text, from + 1, to, ']', true);
            if (close < to) {
                if (edit == Edit::NewKey) break;  // the end of the section
                if (IsName(text, from + 1, close, section)) {
                    edit = Edit::NewKey;
                    keep = resume = line;
                }
                continue;
            }
        }
        if (edit != Edit::NewKey) continue;

        keep = resume = line;  // a new key goes after the section's last line
        const size_t equals = Find(text, from, to, '=', false);
        if (IsName(text, from, equals, key)) {
            edit = equals < to ? Edit::Value : Edit::EqualsValue;
            keep = equals < to ? equals + 1 : to;
            resume = to;
            break;
        }
    }

    char* p = Put(out, text, keep);
    if (edit >= Edit::NewKey) {
        if (keep > start && text[keep - 1] != '\n') p = Put(p, "\r\n");
        if (edit == Edit::NewSection) {
            *p++ = '[';
            p = Put(p, section);
            p = Put(p, "]\r\n");
        }
        p = Put(p, key);
    }
    if (edit != Edit::Value) *p++ = '=';
    p = Put(p, value);
    if (edit >= Edit::NewKey) p = Put(p, "\r\n");
    p = Put(p, text + resume, size - resume);
    return static_cast<size_t>(p - out);
}

namespace {

// ---- the rewrite ------------------------------------------------------------

using Bytes = UniqueHandle<char*, FreeBytes>;
using Held = UniqueHandle<platform::Handle, platform::CloseKernelHandle>;

// A whole file as read, or that there was none.
struct Snapshot {
    Bytes bytes;
    uint32_t size = 0;
    platform::FileRead read = platform::FileRead::Failed;

    bool Take(const char* path) {
        char* taken = nullptr;
        read = platform::ReadWholeFile(path, kSettingsFileLimit, &taken, &size);
        bytes.Reset(taken);
        return read != platform::FileRead::Failed;
    }
    // Whether the file at path holds the same now.
    bool Holds(const char* path) const {
        Snapshot now;
        return now.Take(path) && now.read == read && now.size == size &&
               (size == 0 || std::memcmp(now.bytes.Get(), bytes.Get(), size) == 0);
    }
};

// "<file>.<process><suffix>": beside the file, so that it can take the
// file's place in one step, and this process's own, so that a second
// writer (-once beside the service) and the user's own files are never
// touched. false when the name is too long.
constexpr size_t kSiblingSize = 300;
bool SiblingName(char (&name)[kSiblingSize], const char* file, const char* suffix) {
    CopyCut(name, sizeof name, file, std::strlen(file));
    AppendCut(name, sizeof name, ".");
    AppendDecimal(name, sizeof name, static_cast<int>(platform::ProcessId()), 1);
    return AppendCut(name, sizeof name, suffix) < sizeof name - 1;
}

}  // namespace

bool RewriteIniValue(const char* file, const char* section, const char* key, const char* value) {
    char fresh[kSiblingSize], kept[kSiblingSize];
    if (!SiblingName(fresh, file, ".writing") || !SiblingName(kept, file, ".replaced")) {
        return false;
    }

    for (uint32_t attempt = 0; attempt < kRewriteAttempts; ++attempt) {
        if (attempt > 0) platform::SleepMs(kRewritePauseMs);
        Snapshot current;
        // Held by a program that shares nothing. A missing file is created
        // only when still missing after a pause: a second writer (or an
        // editor that deletes before it renames) leaves the name free for
        // an instant.
        if (!current.Take(file) || (current.read == platform::FileRead::Missing && attempt == 0)) {
            continue;
        }
        const Bytes edited(static_cast<char*>(
            std::malloc(current.size + IniValueRoom(section, key, value))));
        const size_t size = edited ? SetIniValue(current.bytes.Get(), current.size, section, key,
                                                 value, edited.Get())
                                   : 0;
        // A failed write (a full disk) leaves nothing beside the file and the
        // file as it was.
        if (size == 0 ||
            !platform::WriteFileLike(fresh, file, edited.Get(), static_cast<uint32_t>(size))) {
            return false;
        }
        // Held, the file refuses a save in place, a rename over it and a
        // delete: the editor says so and can save again, where a save that
        // landed between a last look and a replace would be lost unseen.
        // The name stays the held file's, so the last look goes by it.
        // Windows lets nobody replace a held file, so it is renamed aside
        // and the new one takes the free name, never over a file.
        const bool exists = current.read == platform::FileRead::Read;
        Held held(exists ? platform::HoldFile(file) : nullptr);
        const bool aside = !exists || (held && current.Holds(file) &&
                                       platform::RenameHeldFile(held.Get(), kept, true));
        if (aside && platform::MoveFileTo(fresh, file)) {
            held.Reset();
            if (exists) platform::RemoveFile(kept);
            return true;
        }
        platform::RemoveFile(fresh);
        if (exists && aside) {
            // Back under its name; when that is taken, an editor saved in
            // the instant it was free: its file stands, and the next
            // attempt starts from it.
            if (platform::RenameHeldFile(held.Get(), file, false) ||
                platform::LastError() != platform::kNameTaken) {
                return false;
            }
            held.Reset();
            platform::RemoveFile(kept);
        }
    }
    return false;
}
