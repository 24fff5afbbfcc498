#include "client/frmMsRdpClient.h"

#include "client/clsDeviceChange.h"

// Not built yet.
frmMsRdpClient::frmMsRdpClient(QWidget *parent) : QWidget(parent) {}
frmMsRdpClient::~frmMsRdpClient() = default;
void frmMsRdpClient::Form_Load() {}
void frmMsRdpClient::Form_Unload() {}
void frmMsRdpClient::msts_OnConnected() {}
void frmMsRdpClient::msts_OnDisconnected(qint32) {}
void frmMsRdpClient::DeviceChange_DeviceChanged(quint32, qint32) {}
void frmMsRdpClient::resizeEvent(QResizeEvent *) {}
