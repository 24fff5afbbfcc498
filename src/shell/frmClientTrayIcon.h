#pragma once

#include "client/Forms.h"
#include "client/MainWindowHost.h"

#include <QWidget>
#include <functional>

class QMenu;
class QAction;
class QSystemTrayIcon;

// The hidden form that owns the notification-area icon, its menu and the main window.
class frmClientTrayIcon : public QWidget, public MainWindowHost
{
    Q_OBJECT

public:
    // Mouse-message codes of the icon.
    static constexpr int WM_LBUTTONDBLCLK = 0x203;
    static constexpr int WM_RBUTTONUP = 0x205;

    // The loaded tray form, or nullptr.
    static frmClientTrayIcon *Instance();
    // Loads the tray form (its Form_Load runs) unless it is loaded.
    static frmClientTrayIcon &Load();
    // The last step of Exit, ending the program; tests replace it. Empty: QCoreApplication::exit(0).
    static void SetEndProgram(std::function<void()> end);

    ~frmClientTrayIcon() override;

    void Form_Load();
    void CreateTrayIcon(qint32 imageIndex, const QString &tip);
    void RemoveFromTray();
    void RefreshMainForm() override;
    // The main window's gate.
    bool CheckSecurityPassword() override;
    void Form_MouseMove(int code);
    void mnuConfiguration_Click();
    void mnuSecConfig_Click();
    void mnuAbout_Click();
    void mnuExit_Click();

private:
    QSystemTrayIcon *trayIcon = nullptr;
    QMenu *mnuTrayMenu = nullptr;
    QAction *mnuConfiguration = nullptr;
    QAction *mnuSep1 = nullptr;
    QAction *mnuSecConfig = nullptr;
    QAction *mnuSep2 = nullptr;
    QAction *mnuAbout = nullptr;
    QAction *mnuSep3 = nullptr;
    QAction *mnuExit = nullptr;

    friend class Forms::Instance<frmClientTrayIcon>;
    frmClientTrayIcon();
    // Gives a new main window what it needs of the tray form.
    void attachMainWindow();
};
