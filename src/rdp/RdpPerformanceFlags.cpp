#include "rdp/RdpPerformanceFlags.h"

#include <QtGlobal>

#include <freerdp/freerdp.h>
#include <freerdp/settings.h>
#include <freerdp/version.h>

#include <dlfcn.h>

// FreeRDP 2 rebuilds the Client Info performance flags from six of its own booleans right
// before it writes the PDU, which drops every bit it has no boolean for (0x10 enhanced graphics,
// 0x20 cursor shadow, 0x40 cursor settings). The library calls freerdp_performance_flags_make
// through its PLT, so the definition here, exported from the executable, takes its place in
// this process: it derives the bits the booleans stand for, as the library does, and keeps
// every other bit of the value that was set.
//
// Both facts (the rebuild, the call through the PLT) were checked for this one version of the
// library. Before building with another, check them again (objdump -R on the library lists
// the function as a JUMP_SLOT; tst_FreeRdpPerformanceFlags shows the bits at a server) and
// change the version here.
#define CHECKED_MAJOR 2
#define CHECKED_MINOR 11
#define CHECKED_REVISION 7
#if FREERDP_VERSION_MAJOR != CHECKED_MAJOR || FREERDP_VERSION_MINOR != CHECKED_MINOR                             \
    || FREERDP_VERSION_REVISION != CHECKED_REVISION
#error "freerdp_performance_flags_make is replaced as FreeRDP 2.11.7 needs it; check this FreeRDP version first (RdpPerformanceFlags.cpp)"
#endif

namespace {

using Builder = void (*)(rdpSettings *);

// The library's own builder when the library loaded at run time is not the one this was
// checked for (it may have been upgraded under the program): the session then sends what the
// library makes of the flags, and says so once.
Builder libraryBuilder()
{
    static const Builder own = []() -> Builder {
        int major = 0, minor = 0, revision = 0;
        freerdp_get_version(&major, &minor, &revision);
        if (major == CHECKED_MAJOR && minor == CHECKED_MINOR && revision == CHECKED_REVISION)
            return nullptr;
        qWarning("FreeRDP %d.%d.%d is loaded, the program was built with %s: the performance flags are left to the "
                 "library, which sends only those it has settings for",
                 major, minor, revision, FREERDP_VERSION_FULL);
        return reinterpret_cast<Builder>(dlsym(RTLD_NEXT, "freerdp_performance_flags_make"));
    }();
    return own;
}

} // namespace

extern "C" __attribute__((visibility("default"))) void freerdp_performance_flags_make(rdpSettings *settings)
{
    if (const Builder own = libraryBuilder()) {
        own(settings);
        return;
    }
    // The library's booleans and the bits they stand for.
    static constexpr struct
    {
        size_t setting;
        UINT32 bit;
    } booleans[] = {
        {FreeRDP_AllowFontSmoothing, PERF_ENABLE_FONT_SMOOTHING},
        {FreeRDP_AllowDesktopComposition, PERF_ENABLE_DESKTOP_COMPOSITION},
        {FreeRDP_DisableWallpaper, PERF_DISABLE_WALLPAPER},
        {FreeRDP_DisableFullWindowDrag, PERF_DISABLE_FULLWINDOWDRAG},
        {FreeRDP_DisableMenuAnims, PERF_DISABLE_MENUANIMATIONS},
        {FreeRDP_DisableThemes, PERF_DISABLE_THEMING},
    };
    UINT32 flags = freerdp_settings_get_uint32(settings, FreeRDP_PerformanceFlags);
    for (const auto &b : booleans)
        flags = freerdp_settings_get_bool(settings, b.setting) ? flags | b.bit : flags & ~b.bit;
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
