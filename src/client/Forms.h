#pragma once

class frmClient;
class frmMsRdpClient;

// The program's one main window and one session window. "Load" creates a form and runs its
// load handler when it is not loaded; "Unload" runs its unload handler and destroys it.
namespace Forms {
frmClient *Client();
frmClient &LoadClient();
void UnloadClient();

frmMsRdpClient *MsRdpClient();
frmMsRdpClient &LoadMsRdpClient();
void UnloadMsRdpClient();
} // namespace Forms
