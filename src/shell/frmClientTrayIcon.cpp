#include "shell/frmClientTrayIcon.h"

#include "client/Forms.h"

namespace {
frmClientTrayIcon *g_instance = nullptr;
}

frmClientTrayIcon::frmClientTrayIcon()
{
    setObjectName(QStringLiteral("frmClientTrayIcon"));
    // Never shown; the caption only names the form.
    setWindowTitle(QStringLiteral("frmDummyTrayIcon"));
}

frmClientTrayIcon::~frmClientTrayIcon()
{
    if (g_instance == this)
        g_instance = nullptr;
}

frmClientTrayIcon *frmClientTrayIcon::Instance()
{
    return g_instance;
}

frmClientTrayIcon &frmClientTrayIcon::Load()
{
    if (!g_instance) {
        g_instance = new frmClientTrayIcon;
        g_instance->Form_Load();
    }
    return *g_instance;
}

void frmClientTrayIcon::Form_Load()
{
    CreateTrayIcon(1, QStringLiteral("Veskora"));
    // The main window decides by itself what it shows.
    Forms::LoadClient();
}

void frmClientTrayIcon::CreateTrayIcon(qint32, const QString &) {}
void frmClientTrayIcon::UpdateTrayIcon(qint32, const QString &) {}
void frmClientTrayIcon::RemoveFromTray() {}

void frmClientTrayIcon::RefreshMainForm()
{
    // A fresh main window starts again from the stored configuration; its load shows it.
    Forms::UnloadClient();
    Forms::LoadClient();
}

void frmClientTrayIcon::Form_MouseMove(int) {}
void frmClientTrayIcon::mnuConfiguration_Click() {}
void frmClientTrayIcon::mnuSecConfig_Click() {}
void frmClientTrayIcon::mnuAbout_Click() {}
void frmClientTrayIcon::mnuExit_Click() {}
