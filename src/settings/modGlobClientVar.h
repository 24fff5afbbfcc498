#pragma once

#include "settings/clsUsersConfig.h"

#include <QString>
#include <QStringList>
#include <memory>

// The program's global variables. They live for the whole run on the user-interface thread.
namespace modGlobClientVar {

inline QStringList gCommandArgs;        // index 0 is always empty, words from 1
inline bool gNotMaximized = false;      // "/NOTMAX": the main window keeps its design size
inline QString gClientCfgFile;          // program directory + "/Client.cfg"
inline QString gUserCfgFile;            // program directory + "/User.cfg"
inline bool gSecurityEnabled = false;   // the security password gate is active
inline qint32 gStartConnectLifeCnt = 0; // ticks to wait after a side-link attempt
inline qint32 gStartLifeCnt = 0;        // ticks the side link may stay silent
inline QString gUserProcessName;        // run after repeated failed side-link attempts
inline qint32 gTryConnectCount = 0;     // failed side-link attempts in a row
inline qint32 gTryConnectActionCnt = 0; // failures that trigger the user process
inline qint32 gMaxTryConnectActionCnt = 0;
inline bool gRdpStarted = false;        // a remote desktop connection has been started
inline bool gRdpConnected = false;      // ... and has reported connected
inline std::unique_ptr<clsUsersConfig> gUsersConfig; // none until the first profile arrives
inline bool gPasswordOk = false;        // result of the last password dialog
inline bool gWaitPasswordPrompt = false;
inline bool gWaitPasswordDefine = false;

} // namespace modGlobClientVar
