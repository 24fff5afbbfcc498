#include "rdp/RdpPerformanceFlags.h"

#include <freerdp/settings.h>
#include <freerdp/version.h>

// FreeRDP 2 rebuilds the Client Info performance flags from six of its own booleans right
// before it writes the PDU, which drops every bit it has no boolean for (0x10 enhanced graphics,
// 0x20 cursor shadow, 0x40 cursor settings). The library calls freerdp_performance_flags_make
// through its PLT, so the definition here, exported from the executable, takes its place in
// this process: it derives the bits the booleans stand for, as the library does, and keeps
// every other bit of the value that was set. Whether another version still drops the bits, and
// still calls the function through its PLT, has to be looked at again before building with it.
#if FREERDP_VERSION_MAJOR != 2
#error "freerdp_performance_flags_make is replaced as FreeRDP 2 needs it; check this FreeRDP version's own first"
#endif

extern "C" __attribute__((visibility("default"))) void freerdp_performance_flags_make(rdpSettings *settings)
{
    constexpr UINT32 booleanBits = PERF_ENABLE_FONT_SMOOTHING | PERF_ENABLE_DESKTOP_COMPOSITION
        | PERF_DISABLE_WALLPAPER | PERF_DISABLE_FULLWINDOWDRAG | PERF_DISABLE_MENUANIMATIONS
        | PERF_DISABLE_THEMING;
    UINT32 flags = freerdp_settings_get_uint32(settings, FreeRDP_PerformanceFlags) & ~booleanBits;
    if (freerdp_settings_get_bool(settings, FreeRDP_AllowFontSmoothing))
        flags |= PERF_ENABLE_FONT_SMOOTHING;
    if (freerdp_settings_get_bool(settings, FreeRDP_AllowDesktopComposition))
        flags |= PERF_ENABLE_DESKTOP_COMPOSITION;
    if (freerdp_settings_get_bool(settings, FreeRDP_DisableWallpaper))
        flags |= PERF_DISABLE_WALLPAPER;
    if (freerdp_settings_get_bool(settings, FreeRDP_DisableFullWindowDrag))
        flags |= PERF_DISABLE_FULLWINDOWDRAG;
    if (freerdp_settings_get_bool(settings, FreeRDP_DisableMenuAnims))
        flags |= PERF_DISABLE_MENUANIMATIONS;
    if (freerdp_settings_get_bool(settings, FreeRDP_DisableThemes))
        flags |= PERF_DISABLE_THEMING;
    freerdp_settings_set_uint32(settings, FreeRDP_PerformanceFlags, flags);
}

namespace RdpPerformanceFlags {

// Setting the flags through here also links the replacement above into every program that
// sets them: in a static library nothing else would pull it in.
bool set(rdpSettings *settings, uint32_t flags)
{
    if (!freerdp_settings_set_uint32(settings, FreeRDP_PerformanceFlags, flags))
        return false;
    // The library's booleans follow the value, so that its own derivation agrees with it.
    freerdp_performance_flags_split(settings);
    return true;
}

} // namespace RdpPerformanceFlags
