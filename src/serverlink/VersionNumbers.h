#pragma once

#include <QString>
#include <QtGlobal>

// The version numbers the side link carries: the server's in the identify request, the
// panel's in its identity.
namespace VersionNumbers {

struct Parts
{
    qint32 major = 0;
    qint32 minor = 0;
    qint32 build = 0;
};

// build = v mod 1000, minor = (v \ 1000) mod 1000, major = (v \ 1000000) mod 1000: divisions
// truncate towards zero, remainders take the sign of v.
Parts DecodeServerVersion(qint32 v);
// As the panel shows it: major "#00", ".", minor "#00", " Build: ", build ("01.20 Build: 18").
QString ServerVersionText(qint32 v);
// "1.20.18" (minor and build 0 to 999) or a whole 32-bit number to the server's version number;
// false with the reason when the text is neither.
bool ParseServerVersion(const QString &text, qint32 &number, QString &error);

// major * 1000000 + (-2^31) + minor * 1000 + revision in checked signed 32-bit arithmetic, the
// product minor * 1000 formed in 16 bits; an overflow raises VbError. 1.20.18 gives -2146463630.
qint32 PanelVersionNumber(qint32 major, qint32 minor, qint32 revision);
// The panel's number read back into its parts.
Parts DecodePanelVersion(qint32 number);
// "major.minor.revision" of the panel's number.
QString PanelVersionText(qint32 number);

} // namespace VersionNumbers
