#include "client/frmClient.h"

// Not built yet.
void frmClient::Winsock_DataArrival(qint32) {}
void frmClient::HandleFrame(const QString &) {}
