#include "client/frmClient.h"

// Not built yet.
void frmClient::ReadConfigurationFromFile() {}
void frmClient::WriteConfigurationToFile() {}
void frmClient::cmdSave_Click() {}
void frmClient::cmdSetDefault_Click() {}
