// The pure rules of setup: how the command line is read, which mode and
// which installer command it asks for, and how a path splits.
#include <string.h>

#include "common/cp932.h"
#include "setup/setup.h"
#include "setup/setup_os.h"

namespace {

// b is ASCII: an argument holding any byte of a double-byte character never
// matches it, so folding byte by byte cannot make a trail byte match.
bool EqualsIgnoringAsciiCase(const char* a, size_t length, const char* b) {
    if (strlen(b) != length) return false;
    for (size_t i = 0; i < length; ++i) {
        char x = a[i];
        if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
        if (x != b[i]) return false;
    }
    return true;
}

bool IsBlank(char c) { return c == ' ' || c == '\t'; }
bool IsSpaceOrControl(char c) { return static_cast<unsigned char>(c) <= ' '; }

}  // namespace

const char* SkipProgramName(const char* commandLine) {
    const char* p = commandLine;
    if (*p == '"') {
        ++p;
        while (*p && *p != '"') p = NextCharacter(p);
        if (*p == '"') ++p;
    } else {
        while (!IsSpaceOrControl(*p)) ++p;
    }
    while (*p && IsSpaceOrControl(*p)) ++p;
    return p;
}

Mode SelectMode(int argc, char** argv) {
    if (argc < 2) return Mode::Launch;
    char folded[kPathSize];
    if (!JoinInto(folded, sizeof folded, argv[1])) return Mode::Launch;  // too long for a switch
    setupos::LowerCase(folded);
    if (setupos::Compare(folded, "/create") == 0) return Mode::Build;
    if (setupos::Compare(folded, "/extract") == 0) return Mode::Extract;
    return Mode::Launch;
}

bool WantsUninstall(const char* text) {
    // Split as the C runtime splits a command line: blanks separate
    // arguments outside quotes; 2n backslashes before a quote give n and the
    // quote counts, 2n+1 give n and a literal quote; a double-byte character
    // is taken whole, so its trail byte (0x5C in ソ, 表, 能 ...) is never a
    // backslash. Only the argument's text is compared, so it is built up in
    // a small buffer; anything longer than the longest switch cannot match.
    const char* p = text;
    for (;;) {
        while (IsBlank(*p)) ++p;
        if (!*p) return false;
        char argument[16];
        size_t length = 0;
        bool fits = true, quoted = false;
        auto append = [&](char c) {
            if (length < sizeof argument) argument[length++] = c;
            else fits = false;
        };
        while (*p && (quoted || !IsBlank(*p))) {
            if (*p == '\\') {
                size_t slashes = 0;
                while (*p == '\\') ++slashes, ++p;
                if (*p == '"') {
                    for (size_t i = 0; i < slashes / 2; ++i) append('\\');
                    if (slashes % 2) {
                        append('"');
                        ++p;
                    }
                } else {
                    for (size_t i = 0; i < slashes; ++i) append('\\');
                }
            } else if (*p == '"') {
                if (quoted && p[1] == '"') {  // "" inside quotes is a literal quote
                    append('"');
                    ++p;
                } else {
                    quoted = !quoted;
                }
                ++p;
            } else {
                if (IsLeadByte(*p) && p[1]) append(*p++);
                append(*p++);
            }
        }
        if (fits && (EqualsIgnoringAsciiCase(argument, length, "/x") ||
                     EqualsIgnoringAsciiCase(argument, length, "/uninstall"))) {
            return true;
        }
    }
}

bool JoinInto(char* out, size_t size, const char* a, const char* b, const char* c, const char* d,
              const char* e) {
    const char* parts[] = {a, b, c, d, e};
    size_t length = 0;
    for (const char* part : parts) length += strlen(part);
    if (length >= size) {
        if (size) out[0] = '\0';
        return false;
    }
    out[0] = '\0';
    for (const char* part : parts) strcat(out, part);
    return true;
}

bool SplitPath(const char* path, char* folder, char* name) {
    const char* start = path[0] && path[1] == ':' ? path + 2 : path;  // of the name
    const char* dot = nullptr;
    const char* end = start;
    for (; *end; end = NextCharacter(end)) {
        if (*end == '\\' || *end == '/') {
            start = end + 1;
            dot = nullptr;
        } else if (*end == '.') {
            dot = end;
        }
    }
    if (dot) end = dot;
    const size_t folderLength = static_cast<size_t>(start - path);
    const size_t nameLength = static_cast<size_t>(end - start);
    if ((folder && folderLength >= kPathSize) || nameLength >= kPathSize) {
        if (folder) folder[0] = '\0';
        name[0] = '\0';
        return false;
    }
    if (folder) {
        memcpy(folder, path, folderLength);
        folder[folderLength] = '\0';
    }
    memcpy(name, start, nameLength);
    name[nameLength] = '\0';
    return true;
}

namespace {
void Hex(char* out, uint32_t value) {
    for (int i = 7; i >= 0; --i, value >>= 4) out[i] = "0123456789abcdef"[value & 15];
    out[8] = '\0';
}
}  // namespace

bool FreshPackagePaths(char* folder, char* package, const char* tempFolder, uint32_t process,
                       uint32_t serial, const char* baseName) {
    char processText[9], serialText[9];
    Hex(processText, process);
    Hex(serialText, serial);
    if (JoinInto(folder, kPathSize, tempFolder, "setup-", processText, "-", serialText) &&
        JoinInto(package, kPathSize, folder, "\\", baseName, ".msi")) {
        return true;
    }
    folder[0] = package[0] = '\0';
    return false;
}
