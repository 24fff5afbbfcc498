#include "shell/frmClientTrayIcon.h"

// Not built yet.
frmClientTrayIcon::frmClientTrayIcon() = default;
frmClientTrayIcon::~frmClientTrayIcon() = default;
frmClientTrayIcon *frmClientTrayIcon::Instance() { return nullptr; }
frmClientTrayIcon &frmClientTrayIcon::Load()
{
    static frmClientTrayIcon *form = new frmClientTrayIcon;
    return *form;
}
void frmClientTrayIcon::Form_Load() {}
void frmClientTrayIcon::CreateTrayIcon(qint32, const QString &) {}
void frmClientTrayIcon::UpdateTrayIcon(qint32, const QString &) {}
void frmClientTrayIcon::RemoveFromTray() {}
void frmClientTrayIcon::RefreshMainForm() {}
void frmClientTrayIcon::Form_MouseMove(int) {}
void frmClientTrayIcon::mnuConfiguration_Click() {}
void frmClientTrayIcon::mnuSecConfig_Click() {}
void frmClientTrayIcon::mnuAbout_Click() {}
void frmClientTrayIcon::mnuExit_Click() {}
