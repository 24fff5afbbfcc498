#include "system/modSynchronousShell.h"

// Not built yet.
namespace modSynchronousShell {
qint32 RunProcessAndWait(QString &, qint32 &, bool &) { return 0; }
} // namespace modSynchronousShell
