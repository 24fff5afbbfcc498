#pragma once

#include <QString>
#include <QtGlobal>

// The arithmetic of the side-link messages, apart from the window so it can be checked alone.
namespace frmClientMessages {

// The panel's version number of its identity answer (command 5): major * 1000000 + (-2^31)
// + minor * 1000 + revision in checked signed 32-bit arithmetic, the product minor * 1000
// formed in 16 bits. An overflow raises VbError (overflow); 1.20.18 gives -2146463630.
qint32 PanelVersionNumber(qint32 major, qint32 minor, qint32 revision);

// The server version of command 4 as shown: major "#00" + "." + minor "#00" + " Build: " +
// build, where build = v mod 1000, minor = (v \ 1000) mod 1000, major = (v \ 1000000) mod 1000
// (divisions truncate towards zero, remainders take the sign of v).
QString ServerVersionText(qint32 v);

} // namespace frmClientMessages
