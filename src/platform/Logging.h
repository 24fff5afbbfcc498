#pragma once

#include <QLoggingCategory>

// What the panel does, for its administrator: connects, closes, failures and their reasons,
// commands received, files written. Off unless turned on, e.g. QT_LOGGING_RULES="veskora.*=true".
// No message carries a password or anything else a profile keeps secret.
Q_DECLARE_LOGGING_CATEGORY(lcSideLink)
Q_DECLARE_LOGGING_CATEGORY(lcSession)
Q_DECLARE_LOGGING_CATEGORY(lcSettings)
