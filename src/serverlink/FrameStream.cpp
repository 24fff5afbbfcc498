#include "serverlink/FrameStream.h"

// Not built yet.
QStringList FrameStream::append(const QByteArray &) { return {}; }
