#pragma once

#include <QString>

namespace StatusText {

// The text followed by the time of day in the system's long format, as the status panel shows
// a side-link event. The time text is made at most once a second: under a burst of frames its
// formatting (time-zone look-ups) would cost more than the frames themselves. User-interface
// thread only.
QString Stamped(const QString &text);

} // namespace StatusText
