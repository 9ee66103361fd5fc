// One HTTP GET of a DNS record's URL, or of its check URL: the root handle
// with the settings' agent, proxy and time-outs, the outcome recorded and,
// on request, the body captured.
#pragma once

#include "worker/address.h"

// What became of an update.
enum class Outcome {
    Success,
    Failure,
    Refused,  // the provider refused it for good: a stop code
    Wait,     // the provider asked for a wait: a wait code
    NotSent,  // nothing to send (the address is unchanged), or a stop came first
};

// Opens url, reads the body and records the outcome.
Outcome RunRequest(const char* url);
// This machine's address as the check setting's entries answer it, tried in
// order until one gives an address of the family asked for (0: either); with
// capture on, a line for each entry that gave none says why. False, and
// address empty, when none gave one.
bool CheckAddress(const char* checkUrl, int family, char (&address)[kAddressTextSize]);
// Closes the capture file of the request under way; the caller holds the
// record lock (a stop that cannot wait for the request calls it).
void CloseCaptureFile();
