// The operations setup needs from Windows. setup/win32/setup_os_win32.cpp
// implements them; the unit tests link an in-memory fake instead.
#pragma once

#include <stdint.h>

#include "common/unique_handle.h"

namespace setupos {

using File = void*;

// Opens the file, or creates it when it is missing (*existed tells which),
// without emptying it; write access; nobody else may open it meanwhile.
File OpenOrCreateForWriting(const char* path, bool* existed);
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
// An open file, closed once when its holder goes.
using FileHandle = UniqueHandle<File, CloseFile>;
// false only when path (a folder, a file that is locked or cannot be read
// included) is known to be another file than the open file: the volume and
// the file number tell, whatever the spelling of either name; true when
// they are the same or when it cannot be told.
bool MayBeSameFile(File file, const char* path);
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
// The running process's id and the millisecond tick count: the seed of a
// name no other setup uses at the same time.
uint32_t ProcessNumber();
uint32_t Ticks();
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
