// An in-memory file system and process runner for setup's modes.
#pragma once

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "setup/setup_os.h"

namespace fakesetup {

struct State {
    std::map<std::string, std::string> files;  // path -> content (folders: see below)
    std::vector<std::string> folders;
    // Further names of a file or folder (an 8.3 name, a hard link, a
    // junction, another drive letter): name -> the path it reaches.
    std::map<std::string, std::string> links;
    std::string ownPath = "C:\\dl\\setup.exe";
    std::string tempFolder = "C:\\TEMP\\";
    std::string systemFolder = "C:\\WINDOWS\\system32";
    uint32_t ticks = 0x100;
    std::vector<std::string> messages;
    std::vector<std::string> unreadable;   // opening for reading fails
    std::vector<std::string> unwritable;   // opening for writing fails
    std::vector<std::string> unknownIdentity;  // not even the attributes can be read
    std::map<std::string, size_t> readFailsAt;  // a read at or past this offset fails
    size_t diskSpace = static_cast<size_t>(-1);  // bytes that can still be written
    std::string freshPackage;  // the last file made new by CreateNewForWriting
    int openFiles = 0;

    // the installer
    bool processFails = false;
    bool noExitCode = false;
    uint32_t installerExit = 0;
    std::string application, commandLine;
    std::string packageAtStart;  // content of the package when the installer starts
    bool packageHeldDuringRun = false;
};

extern State state;
void Reset();

}  // namespace fakesetup
