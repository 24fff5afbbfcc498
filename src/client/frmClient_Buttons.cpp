#include "client/frmClient.h"

// Not built yet.
void frmClient::cmdRestart_Click() {}
void frmClient::cmdShutDown_Click() {}
void frmClient::cmdKeyboard_Click() {}
void frmClient::txtPort_KeyPress(int &) {}
void frmClient::txtServer_KeyPress(int &) {}
