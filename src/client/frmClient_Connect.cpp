#include "client/frmClient.h"

// Not built yet.
void frmClient::cmdRemoteDesktop_Click() {}
void frmClient::ResolutionSize() {}
void frmClient::ConnectToServer() {}
