#include "server/ServerLog.h"

#include <chrono>

Q_LOGGING_CATEGORY(lcServer, "veskora.server", QtInfoMsg)
Q_LOGGING_CATEGORY(lcFleet, "veskora.server.fleet", QtInfoMsg)
Q_LOGGING_CATEGORY(lcLink, "veskora.server.link", QtWarningMsg)

namespace SteadyClock {

qint64 us()
{
    return std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

qint64 ms()
{
    return us() / 1000;
}

} // namespace SteadyClock
