// Whether the program's folder is as private as a program that runs as
// LocalSystem, and the secrets beside it, need.
#pragma once

#include <cstddef>

// Whether a folder's access list (a self-relative security descriptor of
// size bytes, as the platform reads it) lets anybody but SYSTEM, the
// Administrators and TrustedInstaller add or delete files in the folder or
// change its list or owner, and so replace a program of it that runs as
// LocalSystem.
bool OthersMayWrite(const char* descriptor, size_t size);
