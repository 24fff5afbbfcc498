#include "shell/frmEnterPassword.h"

#include "platform/MsgBox.h"
#include "settings/modGlobClientVar.h"

#include <QLineEdit>
#include <QPushButton>

namespace {
Forms::Instance<frmEnterPassword> g_prompt;
} // namespace

frmEnterPassword *frmEnterPassword::Instance()
{
    return g_prompt.get();
}

frmEnterPassword &frmEnterPassword::Load()
{
    return g_prompt.load();
}

frmEnterPassword::frmEnterPassword()
    : PasswordDialog("frmEnterPassword", QStringLiteral("Password"), QSize(4965, 1650), QPoint(2100, 1140), 3420,
                     modGlobClientVar::gWaitPasswordPrompt)
{
    Label4 = label("Label4", QStringLiteral("Enter your Password:"), 360, 420, 2295);
    txtEnterPassword = passwordField("txtEnterPassword", 2880, 420, 1755);
    setTabOrder(txtEnterPassword, cmdOk);
    setTabOrder(cmdOk, cmdCancel);
}

void frmEnterPassword::forget()
{
    g_prompt.forget(this);
}

void frmEnterPassword::Form_Activate()
{
    if (txtEnterPassword->isEnabled() && txtEnterPassword->isVisible())
        txtEnterPassword->setFocus(Qt::ActiveWindowFocusReason);
}

void frmEnterPassword::cmdOk_Click()
{
    if (mSecurityPassword == txtEnterPassword->text()) {
        modGlobClientVar::gPasswordOk = true;
        Unload();
    } else {
        MsgBox::Show(this, QStringLiteral("Wrong Password"), MsgBox::Exclamation);
    }
}
