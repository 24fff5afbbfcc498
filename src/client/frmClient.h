#pragma once

#include "serverlink/SideLinkView.h"
#include "settings/ClientConfig.h"

#include <QSize>
#include <QWidget>

#include <memory>

class CheckBox;
class QComboBox;
class QFrame;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QStatusBar;
class QTabWidget;
class QTimer;
class RemoteDesktopConnection;
class Shape;
class SideLinkMessages;
class SideLinkSupervisor;
class SocketControl;
struct ConnectionEntry;

// The main window: the panel's identity, the connection fields, the buttons, the status bar
// and, on a hidden frame, the configuration. It is the view of the side link, the client
// configuration and the remote desktop connection, whose work it hands to the classes that
// do it. Each control carries its name as objectName.
class frmClient : public QWidget, public SideLinkView
{
    Q_OBJECT

public:
    // Interval of the control timer; tests shorten it.
    static inline int TimerIntervalMs = 1000;

    explicit frmClient(QWidget *parent = nullptr);
    ~frmClient() override;

    // Window life.
    void Form_Load();
    void Form_Activate();
    void Form_Unload();
    void timControl_Timer();
    QString PanelText(int panel) const; // panels 1 and 2
    void setPanelText(int panel, const QString &text) override;
    // What the tray form does to the window: the configuration frame shown, the link closed.
    void ShowConfigurationFrame();
    void CloseSideLink();
    // A lasting note for the operator, in the window's own line that nothing else writes.
    void ShowNote(const QString &text);

    // Client configuration.
    void ReadConfigurationFromFile();
    void WriteConfigurationToFile();
    void cmdSave_Click();
    void cmdSetDefault_Click();

    // User profiles.
    void ShowUserConfig(qint32 &Index) override;
    void ShowUserList() override;
    void cboUsername_Click();
    void cboUsername_KeyPress(int &KeyAscii);

    // Remote desktop connection.
    void cmdRemoteDesktop_Click();
    void ResolutionSize();
    void ConnectToServer() override;

    // Side link.
    void ConnectSideLink();
    void Winsock_Connect();
    void Winsock_Close();
    void Winsock_Error(qint32 number, const QString &description);
    void Winsock_DataArrival(qint32 bytesTotal);
    SideLinkSupervisor &Supervisor() const { return *mSupervisor; }
    SideLinkMessages &Messages() const { return *mMessages; }

    // Panel buttons and key filters.
    void cmdRestart_Click();
    void cmdShutDown_Click();
    void cmdKeyboard_Click();
    void txtPort_KeyPress(int &KeyAscii);
    void txtServer_KeyPress(int &KeyAscii);

protected:
    bool event(QEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    void showEvent(QShowEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    // The side link's view of the window.
    qint32 AutoConnect() const override;
    QString ServerText() const override;
    QString PortText() const override;
    void ShowServerVersion(const QString &text) override;
    void HideServerVersion() override;
    void EnableServerButtons(bool enabled) override;
    void ShowLockStatus(qint32 colour) override;
    void HideLockStatus() override;
    qint32 UserListCount() const override;
    void SelectUser(qint32 entry) override;
    bool RdpStarted() const override;
    bool RdpConnected() const override;

    void buildControls();
    // The control that holds a key of the configuration; none for a count.
    QWidget *holderOf(ClientKey key) const { return mHolders.at(size_t(key)); }
    ClientConfig configuration() const;
    void applyConfiguration(const ClientConfig &config);
    ConnectionEntry connectionEntry() const;
    // The screen's size in whole pixels.
    static QSize screenPixels();
    // Restart or Turn Off: asks the server, after the gate.
    void requestExit(qint32 argument);
    void fitToScreen();
    void fitPanelsToWindow();

    // user frame
    QGroupBox *Frame2 = nullptr;
    QComboBox *cboUsername = nullptr;
    CheckBox *chkUserPass = nullptr;
    QLineEdit *txtPassword = nullptr;
    QComboBox *cboResolution = nullptr;
    QPushButton *cmdRemoteDesktop = nullptr;
    QLineEdit *txtUserName = nullptr;
    Shape *shpLockStatus = nullptr;
    QLabel *lblUsername = nullptr;
    QLabel *lblResolution = nullptr;
    QLabel *lblPassword = nullptr;
    // client frame
    QGroupBox *Frame1 = nullptr;
    QPushButton *cmdKeyboard = nullptr;
    QLineEdit *txtClientname = nullptr;
    QLineEdit *txtClientIP = nullptr;
    QLabel *Label1 = nullptr;
    QLabel *Label2 = nullptr;
    // window
    QPushButton *cmdRestart = nullptr;
    QFrame *fraConfig = nullptr;
    QPushButton *cmdSetDefault = nullptr;
    QPushButton *cmdSave = nullptr;
    QTabWidget *SSTab1 = nullptr;
    CheckBox *chkAutoConnect = nullptr;
    QLineEdit *txtServer = nullptr;
    QLineEdit *txtPort = nullptr;
    QLabel *lblServer = nullptr;
    QLabel *Label3 = nullptr;
    QPushButton *cmdShutDown = nullptr;
    QStatusBar *stbStatusBar = nullptr;
    QLabel *stbPanel1 = nullptr;
    QLabel *stbPanel2 = nullptr;
    QTimer *timControl = nullptr;
    SocketControl *Winsock = nullptr;
    QLabel *lblServerVersionLabel = nullptr;
    QLabel *lblServerVersion = nullptr;
    QLabel *lblText = nullptr;

    // The controls of the configuration's keys, named after them.
    std::array<QWidget *, ClientKeyCount> mHolders{};

    SideLinkSupervisor *mSupervisor = nullptr;
    SideLinkMessages *mMessages = nullptr;
    std::unique_ptr<RemoteDesktopConnection> mConnection;

    bool mUnloading = false;
    // The full-screen window in operator mode stays at the top-left corner.
    bool mMoveLocked = false;
    // The activate handler has run since the window was last shown or deactivated.
    bool mActivatedSinceShow = false;
    // The outer size of the window that covers the screen; empty when it keeps its design size.
    QSize mScreenSize;
};
