#include "platform/Logging.h"

// Critical as the threshold: the panel writes no log of its own unless asked to.
Q_LOGGING_CATEGORY(lcSideLink, "veskora.sidelink", QtCriticalMsg)
Q_LOGGING_CATEGORY(lcSession, "veskora.session", QtCriticalMsg)
Q_LOGGING_CATEGORY(lcSettings, "veskora.settings", QtCriticalMsg)
