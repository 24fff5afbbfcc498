#pragma once

#include <cstdint>

struct rdp_settings;

// The performance flags of a session, every bit of them as set (see RdpPerformanceFlags.cpp).
namespace RdpPerformanceFlags {
bool set(rdp_settings *settings, uint32_t flags);
}
