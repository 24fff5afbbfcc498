#pragma once

#include "client/SessionControl.h"

#include <QList>
#include <QPair>
#include <QVariant>

// A session control that records every setting written and every call, in order, and
// raises its events when a test says so.
class RecordingSessionControl : public SessionControl
{
    Q_OBJECT

public:
    using Call = QPair<QString, QVariant>;

    explicit RecordingSessionControl(QWidget *parent = nullptr);
    ~RecordingSessionControl() override;

    // Every control made since the last reset, oldest first; destroyed ones are nullptr.
    static QList<RecordingSessionControl *> &instances();
    static RecordingSessionControl *last();
    // Installs a factory that makes RecordingSessionControls and forgets earlier ones.
    static void install();

    QList<Call> calls;
    // Names of the calls only, in order.
    QStringList callNames() const;
    QVariant lastValue(const QString &name) const;
    // When set, NotifyRedirectDeviceChange raises this error number.
    int notifyError = 0;
    // A value that a setter refuses with VbError ("name" -> value).
    QString refuseSetting;

    void setServer(const QString &value) override { record("Server", value, m_server); }
    QString Server() const override { return m_server; }
    void setUserName(const QString &value) override { record("UserName", value, m_userName); }
    QString UserName() const override { return m_userName; }
    void setDesktopWidth(qint32 value) override { record("DesktopWidth", value, m_desktopWidth); }
    qint32 DesktopWidth() const override { return m_desktopWidth; }
    void setDesktopHeight(qint32 value) override { record("DesktopHeight", value, m_desktopHeight); }
    qint32 DesktopHeight() const override { return m_desktopHeight; }
    void setFullScreen(qint32 value) override { record("FullScreen", value, m_fullScreen); }
    qint32 FullScreen() const override { return m_fullScreen; }
    void setBitmapPeristence(qint32 value) override { record("BitmapPeristence", value, m_bitmap); }
    qint32 BitmapPeristence() const override { return m_bitmap; }
    void setCompress(qint32 value) override { record("Compress", value, m_compress); }
    qint32 Compress() const override { return m_compress; }
    void setPerformanceFlags(qint32 value) override { record("PerformanceFlags", value, m_perf); }
    qint32 PerformanceFlags() const override { return m_perf; }
    void setRedirectDrives(bool value) override { record("RedirectDrives", value, m_drives); }
    bool RedirectDrives() const override { return m_drives; }
    void setRedirectPorts(bool value) override { record("RedirectPorts", value, m_ports); }
    bool RedirectPorts() const override { return m_ports; }
    void setRedirectPrinters(bool value) override { record("RedirectPrinters", value, m_printers); }
    bool RedirectPrinters() const override { return m_printers; }
    void setRedirectSmartCards(bool value) override { record("RedirectSmartCards", value, m_smartCards); }
    bool RedirectSmartCards() const override { return m_smartCards; }
    void setDisplayConnectionBar(bool value) override { record("DisplayConnectionBar", value, m_bar); }
    bool DisplayConnectionBar() const override { return m_bar; }
    void setEnableAutoReconnect(bool value) override { record("EnableAutoReconnect", value, m_reconnect); }
    bool EnableAutoReconnect() const override { return m_reconnect; }
    void setClearTextPassword(const QString &value) override;
    void NotifyRedirectDeviceChange(quint32 wParam, qint32 lParam) override;
    void Connect() override;
    void Disconnect() override { calls.append({QStringLiteral("Disconnect"), {}}); }

    // Raise the control's events as a real session would.
    void raiseConnected() { emit OnConnected(); }
    void raiseDisconnected(qint32 reason) { emit OnDisconnected(reason); }

protected:
    void setVisible(bool visible) override;

private:
    template<typename T>
    void record(const char *name, const T &value, T &field)
    {
        checkRefused(QString::fromLatin1(name));
        calls.append({QString::fromLatin1(name), QVariant::fromValue(value)});
        field = value;
    }
    void checkRefused(const QString &name);

    QString m_server, m_userName, m_password;
    qint32 m_desktopWidth = 0, m_desktopHeight = 0, m_fullScreen = 0, m_bitmap = 0, m_compress = 0, m_perf = 0;
    bool m_drives = false, m_ports = false, m_printers = false, m_smartCards = false, m_bar = false,
         m_reconnect = false;
};
