#pragma once

#include "client/SessionControl.h"
#include "rdp/RdpDisconnectReason.h"
#include "rdp/RdpFrame.h"

#include <QByteArray>
#include <QImage>
#include <QPointer>
#include <memory>

class RdpSession;
class QLabel;
class QMessageBox;
class QToolButton;

// The session control of the program: a FreeRDP 2 client running in this process.
//
// Threads. The settings, Connect and every event belong to the user-interface thread. Connect
// starts one worker thread that owns the FreeRDP instance: name lookup, TCP connect, the
// protocol and its event loop run there (RdpSession). The worker tells every outcome through
// queued signals; it writes the damaged parts of the remote screen into the frame it shares
// with the widget (RdpFrame), and the widget repaints only those parts. Keyboard and mouse input is
// queued to the worker and a wake-up event makes it send them; nothing is sent from the
// user-interface thread.
//
// Stop. The worker makes the TCP connection itself and gives FreeRDP the connected socket; it
// keeps a duplicate of that socket, so that a stalled connect (a peer that accepts and never
// answers) is ended by shutting the socket down: from the connect time limit, from Disconnect,
// or from the destructor, which then joins the worker. No event is raised once destruction
// has begun.
//
// OnDisconnected tells why with one of the reasons of RdpDisconnectReason.
class FreeRdpSessionControl : public SessionControl
{
    Q_OBJECT

public:
    using enum RdpDisconnectReason;

    static constexpr int DefaultConnectTimeLimitMs = 30000;
    static constexpr int DefaultCertificatePromptMs = 60000;

    explicit FreeRdpSessionControl(QWidget *parent = nullptr);
    ~FreeRdpSessionControl() override;

    void setServer(const QString &value) override;
    QString Server() const override { return m_server; }
    void setUserName(const QString &value) override;
    QString UserName() const override { return m_userName; }
    void setDesktopWidth(qint32 value) override;
    qint32 DesktopWidth() const override { return m_desktopWidth; }
    void setDesktopHeight(qint32 value) override;
    qint32 DesktopHeight() const override { return m_desktopHeight; }
    void setFullScreen(qint32 value) override;
    qint32 FullScreen() const override { return m_fullScreen; }
    void setBitmapPeristence(qint32 value) override;
    qint32 BitmapPeristence() const override { return m_bitmapPersistence; }
    void setCompress(qint32 value) override;
    qint32 Compress() const override { return m_compress; }
    void setPerformanceFlags(qint32 value) override;
    qint32 PerformanceFlags() const override { return m_performanceFlags; }
    void setRedirectDrives(bool value) override;
    bool RedirectDrives() const override { return m_redirectDrives; }
    void setRedirectPorts(bool value) override;
    bool RedirectPorts() const override { return m_redirectPorts; }
    void setRedirectPrinters(bool value) override;
    bool RedirectPrinters() const override { return m_redirectPrinters; }
    void setRedirectSmartCards(bool value) override;
    bool RedirectSmartCards() const override { return m_redirectSmartCards; }
    void setDisplayConnectionBar(bool value) override;
    bool DisplayConnectionBar() const override { return m_displayConnectionBar; }
    void setEnableAutoReconnect(bool value) override;
    bool EnableAutoReconnect() const override { return m_enableAutoReconnect; }
    void setClearTextPassword(const QString &value) override;
    void NotifyRedirectDeviceChange(quint32 wParam, qint32 lParam) override;
    void Connect() override;

    // Ends the session or the attempt; OnDisconnected(ReasonLocal) follows.
    void Disconnect() override;

    // How long an attempt may take until the session is established (default 30 s).
    void setConnectTimeLimit(int milliseconds) { m_connectTimeLimitMs = milliseconds; }

    // The remote screen as the widget shows it (a copy), and the remote desktop size.
    QImage screenImage() const;
    QSize remoteSize() const;
    // The directory of the certificate store (trust on first use).
    static QString certificateStoreDirectory();
    // How long the question about a changed certificate waits for the operator (60 s).
    static void setCertificatePromptTimeout(int milliseconds);
    // RDP scan code (with the extended flag 0x100) for an X11 key code; 0 when there is none.
    static quint32 scanCodeForX11KeyCode(quint32 keyCode);

protected:
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void keyReleaseEvent(QKeyEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;
    void wheelEvent(QWheelEvent *event) override;
    void focusInEvent(QFocusEvent *event) override;
    void focusOutEvent(QFocusEvent *event) override;
    bool focusNextPrevChild(bool next) override;
    bool eventFilter(QObject *watched, QEvent *event) override;
    bool event(QEvent *event) override;

private:
    // What the session tells, on the user-interface thread.
    void sessionConnected();
    void sessionReconnecting();
    void sessionEnded(qint32 reason);
    void sessionFrameChanged();
    void sessionCertificateChanged(const QString &remembered, const QString &presented);

    // The session has been established (and may be being made again): it takes input and drives.
    bool established() const
    {
        return State() == SessionState::Connected || State() == SessionState::Reconnecting;
    }
    void checkSettable() const;
    void setNumber(qint32 &member, qint32 value, qint32 low, qint32 high);
    void setSwitch(bool &member, bool value);
    void layoutConnectionBar();
    void updateConnectionBar();
    void applyFullScreen();
    void attachWindow();
    QPoint toRemote(const QPointF &local) const;
    void sendMouseButton(Qt::MouseButton button, bool down, const QPointF &pos);
    void releaseAllInput();
    static quint32 lockKeyStates();
    void wipePassword();

    QString m_server, m_userName;
    QByteArray m_password; // UTF-8, wiped once the session has it
    qint32 m_desktopWidth = 800, m_desktopHeight = 600, m_fullScreen = 0, m_bitmapPersistence = 0,
           m_compress = 0, m_performanceFlags = 0;
    bool m_redirectDrives = false, m_redirectPorts = false, m_redirectPrinters = false,
         m_redirectSmartCards = false, m_displayConnectionBar = false, m_enableAutoReconnect = false;
    int m_connectTimeLimitMs = DefaultConnectTimeLimitMs;

    RdpFrame m_frame; // shared with the session, which it outlives
    bool m_framePutDirectly = false;
    std::unique_ptr<RdpSession> m_session;
    QList<quint32> m_keysDown;  // scan codes pressed through this widget
    Qt::MouseButtons m_buttonsDown;
    QPointF m_lastPointer;

    QWidget *m_connectionBar = nullptr;
    QLabel *m_connectionBarServer = nullptr;
    QToolButton *m_connectionBarMinimize = nullptr;
    bool m_focusWhenExposed = false; // the window is to take the keyboard when it is on the screen
    QPointer<QMessageBox> m_certificatePrompt;
};
