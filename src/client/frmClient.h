#pragma once

#include "client/VbControls.h"
#include "serverlink/FrameStream.h"
#include "serverlink/modSocketCmd.h"

#include <QElapsedTimer>
#include <QWidget>

class QComboBox;
class QFrame;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QStatusBar;
class QTabWidget;
class QTimer;
class IMsRdpClientNonScriptable;
class SocketControl;

// The main window: the panel's identity, the connection fields, the buttons, the status bar
// and, on a hidden frame, the configuration. Its handlers are spread over the files
// frmClient*.cpp by subject.
class frmClient : public QWidget
{
    Q_OBJECT

public:
    // Interval of the control timer; tests shorten it.
    static inline int TimerIntervalMs = 1000;

    explicit frmClient(QWidget *parent = nullptr);
    ~frmClient() override;

    // --- window life (frmClient.cpp)
    void Form_Load();
    void Form_Activate();
    void Form_Unload();
    void timControl_Timer();
    QString PanelText(int panel) const; // panels 1 and 2
    void setPanelText(int panel, const QString &text);

    // --- configuration (frmClient_Config.cpp)
    void ReadConfigurationFromFile();
    void WriteConfigurationToFile();
    void cmdSave_Click();
    void cmdSetDefault_Click();

    // --- user profiles (frmClient_Profiles.cpp)
    // Steps 1 to 4 of receiving profile n of a series; errors raise VbError.
    void ReceiveUserProfile(qint32 n, const QString &username, const QString &password, qint32 resolution);
    // The series is complete: the profile list replaces the user-name field.
    void ShowUserList();
    void ShowUserConfig(qint32 &Index);
    void cboUsername_Click();
    void cboUsername_KeyPress(int &KeyAscii);
    void GetRdpState(SocketCmd &command) const;

    // --- remote desktop connection (frmClient_Connect.cpp)
    void cmdRemoteDesktop_Click();
    void ResolutionSize();
    void ConnectToServer();

    // --- side-link supervisor (frmClient_Supervisor.cpp)
    void ConnectSideLink();
    void Winsock_Connect();
    void Winsock_Close();
    void Winsock_Error(qint32 number, const QString &description);
    // The current time in the system's long time format, as the status texts show it.
    static QString LongTimeNow();

    // --- side-link messages (frmClient_Messages.cpp)
    void Winsock_DataArrival(qint32 bytesTotal);
    void HandleFrame(const QString &frame);

    // --- panel buttons and key filters (frmClient_Buttons.cpp)
    void cmdRestart_Click();
    void cmdShutDown_Click();
    void cmdKeyboard_Click();
    void txtPort_KeyPress(int &KeyAscii);
    void txtServer_KeyPress(int &KeyAscii);

    // Controls, named as their objectName.
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
    QLabel *Image1 = nullptr;
    // client frame
    QGroupBox *Frame1 = nullptr;
    QPushButton *cmdKeyboard = nullptr;
    QLineEdit *txtClientname = nullptr;
    QLineEdit *txtClientIP = nullptr;
    QLabel *Image2 = nullptr;
    QLabel *Label1 = nullptr;
    QLabel *Label2 = nullptr;
    // window
    QPushButton *cmdRestart = nullptr;
    QFrame *fraConfig = nullptr;
    QPushButton *cmdSetDefault = nullptr;
    QPushButton *cmdSave = nullptr;
    QTabWidget *SSTab1 = nullptr;
    QFrame *fraConfiguration = nullptr;
    CheckBox *chkAutoConnect = nullptr;
    QLineEdit *txtServer = nullptr;
    QLineEdit *txtPort = nullptr;
    QLabel *lblServer = nullptr;
    QLabel *Label3 = nullptr;
    QFrame *fraPerformance = nullptr;
    CheckBox *chkENABLE_ENHANCED_GRAPHICS = nullptr;
    CheckBox *chkDISABLE_THEMING = nullptr;
    CheckBox *chkDISABLE_MENUANIMATIONS = nullptr;
    CheckBox *chkDISABLE_WALLPAPER = nullptr;
    CheckBox *chkDISABLE_FULLWINDOWDRAG = nullptr;
    CheckBox *chkDISABLE_CURSOR_SHADOW = nullptr;
    CheckBox *chkDISABLE_CURSORSETTINGS = nullptr;
    QFrame *fraRedirection = nullptr;
    CheckBox *chkRedirectSmartCards = nullptr;
    CheckBox *chkRedirectPrinters = nullptr;
    CheckBox *chkRedirectPorts = nullptr;
    CheckBox *chkRedirectDrives = nullptr;
    QFrame *fraOther = nullptr;
    CheckBox *chkDisplayConnectionBar = nullptr;
    CheckBox *chkBitmap = nullptr;
    CheckBox *chkCompress = nullptr;
    CheckBox *chkEnableAutoReconnect = nullptr;
    QPushButton *cmdShutDown = nullptr;
    QStatusBar *stbStatusBar = nullptr;
    QLabel *stbPanel1 = nullptr;
    QLabel *stbPanel2 = nullptr;
    QTimer *timControl = nullptr;
    SocketControl *Winsock = nullptr;
    QLabel *lblText = nullptr;
    QLabel *lblServerVersionLabel = nullptr;
    QLabel *lblServerVersion = nullptr;
    QLabel *Image3 = nullptr;
    QLabel *Image4 = nullptr;

    // Ticks left before the supervisor runs again.
    qint32 mLifeCnt = 0;

    // Copies made by the connection.
    QString mServer;
    QString mUserName;
    QString mPassword;
    QString mResolution;
    QString mDesktopWidth;
    QString mDesktopHeight;
    IMsRdpClientNonScriptable *mRdpNonScriptable = nullptr;

protected:
    bool event(QEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    void showEvent(QShowEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void buildControls();

    // Side-link supervisor state (frmClient_Supervisor.cpp).
    bool mAttemptPending = false;
    QElapsedTimer mLastAttempt;   // since the last attempt began
    bool mAttemptDeferred = false; // an attempt waits for the pause between attempts
    bool mFrameOnLink = false;    // a frame arrived on the link now open
    bool mQuietClose = false;     // the last link closed before any frame arrived on it
    void sideLinkConnected();
    void sideLinkFailed();
    void runFailureAction();
    // Received bytes not yet cut into frames (frmClient_Messages.cpp).
    FrameStream mFrameStream;
    bool mHandlingData = false; // inside Winsock_DataArrival
    bool mUnloading = false;
    // Window placement and activation (frmClient.cpp): the full-screen window in operator
    // mode stays at the top-left corner; the activate handler has run since the window was
    // last shown or deactivated.
    bool mMoveLocked = false;
    bool mActivatedSinceShow = false;
    // The outer size of the window that covers the screen; empty when it keeps its design size.
    QSize mScreenSize;
    void fitToScreen();
};
