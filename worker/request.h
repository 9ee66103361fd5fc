// One HTTP GET of a DNS record's URL, or of its check URL: the root handle
// with the settings' agent, proxy and time-outs, the outcome recorded and,
// on request, the body captured.
#pragma once

// Opens url, reads the body and records the outcome; true when that outcome
// is the success event.
bool RunRequest(const char* url);
// Requests the check URL (never captured) and takes this machine's public
// address from the start of its body; false when it gave none.
bool CheckAddressOnline(char* address);
// Closes the capture file of the request under way; the caller holds the
// record lock (a stop that cannot wait for the request calls it).
void CloseCaptureFile();
