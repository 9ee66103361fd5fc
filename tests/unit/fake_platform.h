// A scripted stand-in for the worker's operating system: settings in memory,
// events and status lines recorded, capture files as strings, and an
// Internet library that plays back what a test scripted for it.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "worker/platform.h"

namespace fake {

struct Response {
    bool rootFails = false;
    uint32_t rootError = 0;
    platform::OpenOutcome outcome = platform::OpenOutcome::Response;
    uint32_t openError = 0;
    bool statusQueryFails = false;
    uint32_t status = 200;
    std::vector<std::string> chunks;  // each read returns the next one, then 0 bytes
    int failingRead = -1;             // index of the read that fails, -1 for none
    uint32_t readError = 0;
    // The length the response declared, -1 for none. A body read short of it
    // is cut; it also stands for a chunked body that lost its last chunk.
    int64_t declaredLength = -1;
    // The open (-1) or the read of this index blocks until ReleaseStall(), as a
    // server that never answers holds a worker thread; -2 for none.
    int stallAt = -2;
};

struct State {
    // settings file, per (file, "section/key") lower-cased
    std::map<std::string, std::string> profile;
    std::vector<std::string> statusLines;  // every lastlog written, in order
    std::vector<std::pair<uint16_t, uint32_t>> events;  // (type, ID) reported
    bool eventLogFails = false;

    std::map<std::string, std::string> files;  // capture files by path
    bool captureLocked = false;                // opening the capture file fails
    int failingWrite = -1;                     // index of the write that fails
    int captureOpens = 0;
    int captureWrites = 0;
    int openFiles = 0;

    Response response;
    std::map<std::string, Response> responsesByUrl;  // in place of response for these URLs
    std::string agent;        // of the last root handle; "(none)" for null
    platform::ProxyMode proxyMode = platform::ProxyMode::Preconfigured;
    std::string proxy;        // named proxy of the last root handle
    std::vector<std::string> requestHeaders;  // per request, "" for none
    std::map<uint32_t, std::string> errorMessages;  // the library's texts by error number
    std::string lastResponseText;                   // left by the server (12003)
    std::vector<std::string> requestedUrls;
    std::vector<std::pair<uint32_t, uint32_t>> timeouts;  // (option, ms) on the root
    int openInternetHandles = 0;
    int reads = 0;

    uint32_t tick = 1000000;
    uint32_t tickPerRequest = 0;  // how long each request takes
    platform::LocalTime now{2012, 7, 3, 9, 5, 1};

    std::string modulePath = "C:\\Program Files\\pelkor\\pelkor.exe";
    bool eventCreationFails = false;
    int liveEvents = 0;
    int timeoutsBeforeStop = 0;  // the worker's wait times out this often, then ends
    int waits = 0;
    bool nowPending = false;     // the update-now event is set
    std::function<void()> duringRequest;  // runs inside each request, as a control would
    uint32_t lastError = 0;      // left by a failed creation
    std::vector<std::vector<std::string>> eventStrings;  // insertion strings per event

    std::vector<platform::LocalIpv6Address> localIpv6;  // this machine's IPv6 addresses

    // Whole files (the settings file's rewrite), by name.
    struct File {
        std::string text;
        bool readOnly = false;
        std::string list = "inherited";  // "private" once given the private list
        bool unreadable = false;         // reading it is denied (error 5)
    };
    std::map<std::string, std::shared_ptr<File>> disk;
    std::set<std::string> heldOpen;  // open by a program or HoldFile: no move over, remove, hold
    size_t freeBytes = SIZE_MAX;     // a new file larger than this does not fit
    // Runs before each whole-file operation with its name and path, such as
    // "move C:\\p\\pelkor.ini": the moment for a racing save.
    std::function<void(const std::string& step)> onStep;
    std::vector<std::string> madePrivate;  // paths given to MakeFilePrivate
    std::map<std::string, std::string> accessLists;  // descriptors by path, as read
};

extern State state;

// Resets everything to a fresh machine.
void Reset();
// A setting in section [setting] of the worker's settings file.
void SetSetting(const std::string& key, const std::string& value);
void RemoveSetting(const std::string& key);
std::string StatusLine();  // lastlog as stored, "" when never written
// A setting in another section of the settings file ("setting2" ...).
void SetSectionSetting(const std::string& section, const std::string& key, const std::string& value);
std::string StatusLineOf(const std::string& key);  // "lastlog2" ..., "" when never written

// A stalled call (Response::stallAt) holds the calling thread until released;
// the test's thread can wait until a worker thread sits in one.
bool WaitUntilStalled();  // false after a few seconds without
bool Stalled();
void ReleaseStall();

}  // namespace fake
