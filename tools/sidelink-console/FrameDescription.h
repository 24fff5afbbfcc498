#pragma once

#include <QString>

namespace FrameDescription {

// The side-link command's name ("sign-of-life request"), empty for an unknown number.
QString CommandName(qint32 cmd);

// A readable one-line account of a frame: command, name, argument and what it means, and
// every further field. Password values are replaced by "***" when maskPasswords is set.
QString Describe(const QString &frame, bool maskPasswords = false);

} // namespace FrameDescription
