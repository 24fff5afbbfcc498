#include "client/frmClient.h"

// Not built yet.
void frmClient::ReceiveUserProfile(qint32, const QString &, const QString &, qint32) {}
void frmClient::ShowUserList() {}
void frmClient::ShowUserConfig(qint32 &) {}
void frmClient::cboUsername_Click() {}
void frmClient::cboUsername_KeyPress(int &) {}
void frmClient::GetRdpState(SocketCmd &) const {}
