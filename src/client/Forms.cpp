#include "client/Forms.h"

#include "client/frmClient.h"
#include "client/frmMsRdpClient.h"

namespace Forms {

namespace {
Instance<frmClient> g_client;
Instance<frmMsRdpClient> g_msRdpClient;
MainWindowHost *g_host = nullptr;
} // namespace

frmClient *Client()
{
    return g_client.get();
}

frmClient &LoadClient()
{
    return g_client.load();
}

void UnloadClient()
{
    if (frmClient *form = g_client.take()) {
        form->Form_Unload();
        // The window is often unloaded from inside one of its own handlers (Save reloads
        // it); it goes away once that handler has returned.
        form->deleteLater();
    }
}

frmMsRdpClient *MsRdpClient()
{
    return g_msRdpClient.get();
}

frmMsRdpClient &LoadMsRdpClient()
{
    return g_msRdpClient.load();
}

void UnloadMsRdpClient()
{
    if (frmMsRdpClient *form = g_msRdpClient.take()) {
        form->Form_Unload();
        delete form;
    }
}

SessionControl::SessionState SessionState()
{
    const frmMsRdpClient *session = g_msRdpClient.get();
    return session && session->msts ? session->msts->State() : SessionControl::SessionState::NotStarted;
}

MainWindowHost *Host()
{
    return g_host;
}

void SetHost(MainWindowHost *host)
{
    g_host = host;
}

} // namespace Forms
