#pragma once

#include <QLoggingCategory>

// What the server does, to standard error (the journal under systemd). veskora.server: start,
// reloads, faults; veskora.server.fleet: panels identified, requests granted and refused, the
// lock, orders; veskora.server.link (off unless turned on): every link and every command by
// number and argument. No message carries a password.
Q_DECLARE_LOGGING_CATEGORY(lcServer)
Q_DECLARE_LOGGING_CATEGORY(lcFleet)
Q_DECLARE_LOGGING_CATEGORY(lcLink)

namespace SteadyClock {
qint64 ms();
qint64 us();
} // namespace SteadyClock
