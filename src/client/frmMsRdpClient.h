#pragma once

#include "client/SessionControl.h"

#include <QWidget>
#include <memory>

class IMsRdpClientNonScriptable;
class clsDeviceChange;

// The window in which the remote desktop session runs; it hosts one session control.
class frmMsRdpClient : public QWidget
{
    Q_OBJECT

public:
    explicit frmMsRdpClient(QWidget *parent = nullptr);
    ~frmMsRdpClient() override;

    void Form_Load();
    void Form_Unload();
    void msts_StateChanged(SessionControl::SessionState state);
    void msts_OnDisconnected(qint32 discReason);
    void DeviceChange_DeviceChanged(quint32 wParam, qint32 lParam);

    SessionControl *msts = nullptr;
    IMsRdpClientNonScriptable *mRdpNonScriptable = nullptr;
    std::unique_ptr<clsDeviceChange> DeviceChange;

protected:
    void closeEvent(QCloseEvent *event) override;
};
