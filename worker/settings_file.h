// The settings file on disk: a status line written into it without costing
// the user a byte of it.
#pragma once

#include <cstddef>
#include <cstdint>

// A larger settings file is left alone: it is not one of ours.
constexpr uint32_t kSettingsFileLimit = 1u << 20;
// Tries of a rewrite that finds the file changed (or held open) under it;
// each one after the first waits kRewritePauseMs.
constexpr uint32_t kRewriteAttempts = 5;
constexpr uint32_t kRewritePauseMs = 20;

// What SetIniValue may need beyond the size of its input.
size_t IniValueRoom(const char* section, const char* key, const char* value);

// text (size bytes, code page 932) with key in section set to value, into
// out (size + IniValueRoom bytes); its length, 0 for a text in UTF-16,
// which is not edited. The key changed is the one the profile reader
// finds: the first section of that name, the first line of that name in
// it, names compared without ASCII case and with blanks around them
// trimmed. Only that line's value changes; a missing key is added after the
// last line of its section, a missing section at the end; new lines end in
// CR LF. Every other byte stays as it was.
size_t SetIniValue(const char* text, size_t size, const char* section, const char* key,
                   const char* value, char* out);

// Sets key in section of the settings file to value. The new text is
// written beside the file (file.<process>.writing), with its access list
// and attributes; then the file is held, so that no save lands unseen,
// renamed aside (file.<process>.replaced), and the new file takes the free
// name: the file on disk is the old one or the new one, or for that
// instant none. A save is never undone: one that lands before the hold
// makes the rewrite start again from it, one that lands while the name is
// free stands. false, the file untouched, when the rewrite cannot complete.
bool RewriteIniValue(const char* file, const char* section, const char* key, const char* value);
