#include "serverlink/SocketControl.h"

// Not built yet.
SocketControl::SocketControl(QObject *parent) : QObject(parent) {}
SocketControl::~SocketControl() = default;
void SocketControl::Connect(const QString &, qint32) {}
void SocketControl::Close() {}
void SocketControl::SendData(const QString &) {}
void SocketControl::GetData(QString &, qint32) {}
qint32 SocketControl::State() const { return m_state; }
QString SocketControl::LocalIP() const { return {}; }
