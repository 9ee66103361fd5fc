// The operations setup needs from Windows. setup/win32/setup_os_win32.cpp
// implements them; the unit tests link an in-memory fake instead.
#pragma once

#include <stdint.h>

namespace setupos {

using File = void*;

// Create the file or empty it; write access; nobody else may open it.
File OpenForWriting(const char* path);
// The file must not exist yet (a link planted in its place is not
// followed); write access; nobody else may open it.
File CreateNewForWriting(const char* path);
// The file must exist; read access; others may read and write it meanwhile.
File OpenForReading(const char* path);
// A read handle that others may share for reading only: while it is open,
// nobody can write, replace or delete the file.
File HoldForReading(const char* path);
bool SeekTo(File file, uint32_t offset);
// false on a failing read; *count 0 at the end of the file.
bool ReadBlock(File file, void* buffer, uint32_t size, uint32_t* count);
bool WriteBlock(File file, const void* data, uint32_t size);
// Cuts the file at the current position.
bool CutHere(File file);
bool CloseFile(File file);
bool DeleteNamedFile(const char* path);
// A directory search finds something at path (a folder or a matching
// pattern included).
bool Exists(const char* path);
uint32_t LastError();
bool IsAlreadyExists(uint32_t error);
// A new folder (never an existing one) that only the running user, SYSTEM
// and the Administrators may enter; and its removal once it is empty.
bool MakePrivateFolder(const char* path);
bool RemoveFolder(const char* path);

void ShowMessage(const char* text);  // modal, one OK button

// Own path (260 bytes), 0 on failure; the temporary folder (ends in a
// backslash), 0 on failure or when it does not fit; the system folder.
uint32_t ModulePath(char* buffer, uint32_t size);
uint32_t TempFolder(char* buffer, uint32_t size);
uint32_t SystemFolder(char* buffer, uint32_t size);
// The full path as the platform resolves path (GetFullPathNameA), 0 on
// failure or when it does not fit.
uint32_t FullPath(const char* path, char* buffer, uint32_t size);
// The running process's id and the millisecond tick count: the seed of a
// name no other setup uses at the same time.
uint32_t ProcessNumber();
uint32_t Ticks();
// _splitpath into buffers of 3, 256, 256 and 256 bytes.
void SplitPath(const char* path, char* drive, char* directory, char* name, char* extension);
// _mbslwr and _mbscmp: multibyte-aware lower case and comparison.
void LowerCase(char* text);
int Compare(const char* a, const char* b);

void* AllocateBuffer(uint32_t size);
void FreeBuffer(void* buffer);

enum class RunResult { Exited, NotStarted, NoExitCode };
// Starts application with commandLine (a modifiable buffer), waits without
// a time limit until it ends and reads its exit code through a second
// handle opened by process id.
RunResult RunAndWait(const char* application, char* commandLine, uint32_t* exitCode);

}  // namespace setupos
