#include "rdp/RdpLibraryOverrides.h"

#include <QtGlobal>

#include <freerdp/freerdp.h>
#include <freerdp/settings.h>
#include <freerdp/version.h>
#include <winpr/synch.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <dlfcn.h>
#include <poll.h>
#include <thread>

// Two functions the library calls through its PLT are defined here as well; exported from the
// session module (loaded before the library it needs) or from a program that links this code,
// these take the place of the library's own in this process.
//
// freerdp_performance_flags_make: FreeRDP 2 rebuilds the Client Info performance flags from six
// of its own booleans right before it writes the PDU, which drops every bit it has no boolean
// for (0x10 enhanced graphics, 0x20 cursor shadow, 0x40 cursor settings). The definition here
// derives the bits the booleans stand for, as the library does, and keeps every other bit of
// the value that was set.
//
// Sleep (WinPR): while a connection is activated, and again when the server reactivates a
// session, the library reads what has arrived and then sleeps 100 ms, until the session is
// active: each of the ten or so steps cost 100 ms, however fast the server answered. On a
// thread that waits for a server (waitForServerOn) the sleep ends as soon as the socket has
// something to read, so a step costs a round trip. The library counts each of these sleeps as
// 100 ms against its limit for the activation (TcpAckTimeout, 9 s); a sleep cut short by the
// server is one message of it, and an activation takes about ten.
//
// These facts were checked for this one version of the library. Before building with another,
// check them again (objdump -R on the library lists both functions as JUMP_SLOTs; the
// performance flags reach a server as tst_FreeRdpSessionControl shows; strace -f during a
// connect shows no 100 ms clock_nanosleep) and change the version here.
#define CHECKED_MAJOR 2
#define CHECKED_MINOR 11
#define CHECKED_REVISION 7
#if FREERDP_VERSION_MAJOR != CHECKED_MAJOR || FREERDP_VERSION_MINOR != CHECKED_MINOR                             \
    || FREERDP_VERSION_REVISION != CHECKED_REVISION
#error "library functions are replaced as FreeRDP 2.11.7 needs it; check this FreeRDP version first (RdpLibraryOverrides.cpp)"
#endif

namespace {

// Whether the library loaded at run time is the one this was checked for (it may have been
// upgraded under the program). When it is not, the library does as it would, and says so once.
bool libraryAsChecked()
{
    static const bool same = [] {
        int major = 0, minor = 0, revision = 0;
        freerdp_get_version(&major, &minor, &revision);
        if (major == CHECKED_MAJOR && minor == CHECKED_MINOR && revision == CHECKED_REVISION)
            return true;
        qWarning("FreeRDP %d.%d.%d is loaded, the program was built with %s: the library sends only the performance "
                 "flags it has settings for, and waits its fixed time between the steps of a connect",
                 major, minor, revision, FREERDP_VERSION_FULL);
        return false;
    }();
    return same;
}

template<typename Function>
Function libraryOwn(const char *name)
{
    return reinterpret_cast<Function>(dlsym(RTLD_NEXT, name));
}

thread_local int t_serverSocket = -1;
std::atomic<uint64_t> g_serverWaits{0}, g_serverWakeUps{0};

} // namespace

extern "C" __attribute__((visibility("default"))) void freerdp_performance_flags_make(rdpSettings *settings)
{
    if (!libraryAsChecked()) {
        static const auto own = libraryOwn<void (*)(rdpSettings *)>("freerdp_performance_flags_make");
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

extern "C" __attribute__((visibility("default"))) VOID Sleep(DWORD ms)
{
    // The library's waits for the server are these; a shorter sleep on the same thread waits
    // for something else (another thread's initialisation).
    constexpr DWORD ServerWaitMs = 100;
    if (t_serverSocket < 0 || ms != ServerWaitMs || !libraryAsChecked()) {
        static const auto own = libraryOwn<VOID (*)(DWORD)>("Sleep");
        if (own)
            own(ms);
        else
            std::this_thread::sleep_for(std::chrono::milliseconds(ms));
        return;
    }
    g_serverWaits.fetch_add(1, std::memory_order_relaxed);
    using namespace std::chrono;
    const auto deadline = steady_clock::now() + milliseconds(ms);
    pollfd p{t_serverSocket, POLLIN, 0};
    int ready;
    do {
        const auto left = duration_cast<milliseconds>(deadline - steady_clock::now()).count();
        ready = poll(&p, 1, int(std::max<decltype(left)>(left, 0)));
    } while (ready < 0 && errno == EINTR);
    if (ready > 0)
        g_serverWakeUps.fetch_add(1, std::memory_order_relaxed);
}

namespace RdpLibraryOverrides {

// Setting the flags through here also links the replacements above into every program that
// sets them: in a static library nothing else would pull them in.
bool setPerformanceFlags(rdpSettings *settings, uint32_t flags)
{
    if (!freerdp_settings_set_uint32(settings, FreeRDP_PerformanceFlags, flags))
        return false;
    // The library's booleans follow the value, so that its own derivation agrees with it.
    freerdp_performance_flags_split(settings);
    return true;
}

void waitForServerOn(int socket)
{
    t_serverSocket = socket;
}

uint64_t serverWaits()
{
    return g_serverWaits.load(std::memory_order_relaxed);
}

uint64_t serverWakeUps()
{
    return g_serverWakeUps.load(std::memory_order_relaxed);
}

} // namespace RdpLibraryOverrides
