#include "client/Forms.h"

#include "client/frmClient.h"
#include "client/frmMsRdpClient.h"

#include <QPointer>

namespace Forms {

namespace {
QPointer<frmClient> g_client;
QPointer<frmMsRdpClient> g_msRdpClient;
} // namespace

frmClient *Client()
{
    return g_client.data();
}

frmClient &LoadClient()
{
    if (!g_client) {
        g_client = new frmClient;
        g_client->Form_Load();
    }
    return *g_client;
}

void UnloadClient()
{
    if (frmClient *form = g_client.data()) {
        g_client = nullptr;
        form->Form_Unload();
        // The window is often unloaded from inside one of its own handlers (Save reloads
        // it); it goes away once that handler has returned.
        form->deleteLater();
    }
}

frmMsRdpClient *MsRdpClient()
{
    return g_msRdpClient.data();
}

frmMsRdpClient &LoadMsRdpClient()
{
    if (!g_msRdpClient) {
        g_msRdpClient = new frmMsRdpClient;
        g_msRdpClient->Form_Load();
    }
    return *g_msRdpClient;
}

void UnloadMsRdpClient()
{
    if (frmMsRdpClient *form = g_msRdpClient.data()) {
        g_msRdpClient = nullptr;
        form->Form_Unload();
        delete form;
    }
}

} // namespace Forms
