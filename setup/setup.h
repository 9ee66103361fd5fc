// The setup program: a setup file is this program with an installer package
// written behind it at a fixed offset. Run with /create it makes such a
// file, with /extract it writes the package out, otherwise it installs or
// removes the package through the system installer.
#pragma once

#include <stddef.h>
#include <stdint.h>

// Where the carried package starts in every setup file. The bare program
// must stay shorter than this; the build checks it.
constexpr uint32_t kPackageOffset = 61440;
constexpr uint32_t kCopyBufferSize = 32768;
constexpr uint32_t kPathSize = 260;
// The launch mode's own folder in the temporary folder: names tried before
// giving up when each one already exists (planted or left by a crash).
constexpr uint32_t kFreshFolderTries = 16;

// Exit codes of the launch mode when the installer cannot be run; the
// installer's own codes of the same meaning.
constexpr uint32_t kExitInstallerNotRun = 1601;     // ERROR_INSTALL_SERVICE_FAILURE
constexpr uint32_t kExitNoInstallerCode = 1603;     // ERROR_INSTALL_FAILURE
constexpr uint32_t kExitPackageUnreadable = 1619;   // ERROR_INSTALL_PACKAGE_OPEN_FAILED
constexpr uint32_t kExitTempUnwritable = 1632;      // ERROR_INSTALL_TEMP_UNWRITABLE
// Build and extract modes: 0 on success, this after any failure.
constexpr int kExitModeFailed = 1;

enum class Mode { Build, Extract, Launch };

// ---- rules (setup/rules.cpp) -----------------------------------------------

// The command text: the process command line behind the program name,
// unchanged (what a Windows program's entry point gets as its command line).
const char* SkipProgramName(const char* commandLine);
// Argument 1, folded to lower case, selects /create or /extract.
Mode SelectMode(int argc, char** argv);
// True when a whole argument of the command text, split as the C runtime of
// a Japanese system splits a command line, is /x or /uninstall in any ASCII
// letter case.
bool WantsUninstall(const char* commandText);
// The folder of path (drive and directory, up to and with the last
// backslash or slash) and its name (from there up to the last dot), as
// _splitpath finds them on a Japanese system; folder may be null. False,
// both empty, when one asked for does not fit a kPathSize buffer: nothing
// is cut (a cut could end inside a double-byte character).
bool SplitPath(const char* path, char* folder, char* name);
// The launch mode's folder, temporary folder + "setup-<process>-<serial>" in
// hexadecimal, and its package, folder + backslash + base name + ".msi"; false
// (both empty) when either does not fit a kPathSize buffer.
bool FreshPackagePaths(char* folder, char* package, const char* tempFolder, uint32_t process,
                       uint32_t serial, const char* baseName);
// Joins up to five texts into out; false (and out empty) when they do not fit.
bool JoinInto(char* out, size_t size, const char* a, const char* b = "", const char* c = "",
              const char* d = "", const char* e = "");

// ---- modes (setup/modes.cpp) -----------------------------------------------

int RunSetup(int argc, char** argv, const char* commandLine);
int BuildSetupFile(int argc, char** argv);
int ExtractPackage();
uint32_t LaunchInstaller(const char* commandText);
