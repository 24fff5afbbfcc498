#pragma once

#include "client/SessionControl.h"

#include <QPointer>

#include <utility>

class frmClient;
class frmMsRdpClient;
class MainWindowHost;

namespace Forms {

// The one loaded instance of a form. Loading creates the form and runs its Form_Load unless
// it is loaded; a form counts as unloaded once it is forgotten, even while it still waits to
// be destroyed.
template<typename Form>
class Instance
{
public:
    Form *get() const { return mForm.data(); }
    Form &load()
    {
        if (!mForm) {
            mForm = new Form;
            mForm->Form_Load();
        }
        return *mForm;
    }
    // The form, forgotten; nullptr when none is loaded.
    Form *take() { return std::exchange(mForm, nullptr).data(); }
    void forget(const Form *form)
    {
        if (mForm == form)
            mForm = nullptr;
    }

private:
    QPointer<Form> mForm;
};

// The program's one main window and one session window. "Unload" runs the form's unload
// handler and destroys it.
frmClient *Client();
frmClient &LoadClient();
void UnloadClient();

frmMsRdpClient *MsRdpClient();
frmMsRdpClient &LoadMsRdpClient();
void UnloadMsRdpClient();

// Where the remote desktop session stands: the state of the session window's control, which
// owns it; NotStarted while no session window is loaded.
SessionControl::SessionState SessionState();

// The form that owns the main window (the tray form), or nullptr.
MainWindowHost *Host();
void SetHost(MainWindowHost *host);

} // namespace Forms
