#include "serverlink/modSocketCmd.h"

// Not built yet.
namespace modSocketCmd {
void BuildCommandFrame(const SocketCmd &, QString &) {}
void BuildClientNameFrame(const SocketCmd &, QString &, const QString &) {}
void BeginFrame(QString &, const SocketCmd &) {}
void AppendField(QString &, const QString &, const QString &) {}
void EndFrame(QString &) {}
bool HasFrameStart(const QString &) { return false; }
bool HasFrameEnd(const QString &) { return false; }
bool GetFieldValue(const QString &, const QString &, QString &) { return false; }
SocketCmd GetCommand(const QString &) { return {}; }
SocketCmd ParseCommandFrame(const QString &) { return {}; }
bool ParseUserFrame(const QString &, RemoteUserData &) { return false; }
bool ParseConnectFrame(const QString &, RemoteConnectData &) { return false; }
} // namespace modSocketCmd
