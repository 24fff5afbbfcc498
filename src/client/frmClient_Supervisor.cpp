#include "client/frmClient.h"

// Not built yet.
void frmClient::ConnectSideLink() {}
void frmClient::Winsock_Connect() {}
void frmClient::Winsock_Close() {}
void frmClient::Winsock_Error(qint32, const QString &) {}
