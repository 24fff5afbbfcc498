#pragma once

#include <QString>
#include <QtGlobal>

// Runs a program and waits for it to end, processing pending events once a second.
namespace modSynchronousShell {

inline constexpr qint32 STILL_ACTIVE = 259;

// The named file itself is executed with "0" as its whole argument vector. TimeoutMs -1
// waits without limit. Returns the exit code, 259 for a program killed at the time limit,
// 0 for one that cannot be started. A Linux program has no first window to start hidden.
qint32 RunProcessAndWait(const QString &CommandLine, qint32 TimeoutMs);

} // namespace modSynchronousShell
