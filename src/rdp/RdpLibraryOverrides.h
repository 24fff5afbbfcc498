#pragma once

#include <cstdint>

struct rdp_settings;

// What this program changes in the FreeRDP library it runs with, for the one version it was
// checked with (see RdpLibraryOverrides.cpp); with another version loaded, the library does
// as it would.
namespace RdpLibraryOverrides {

// The performance flags of a session, every bit of them as set.
bool setPerformanceFlags(rdp_settings *settings, uint32_t flags);

// On the calling thread, the library's fixed sleeps while it waits for the server end as soon
// as the socket has something to read (or is shut down), at the latest after the time asked
// for. -1 makes them sleeps again.
void waitForServerOn(int socket);

// How many of those sleeps have begun, and how many of them the server's answer (or the
// socket's end) has cut short, in this process.
uint64_t serverWaits();
uint64_t serverWakeUps();

} // namespace RdpLibraryOverrides
