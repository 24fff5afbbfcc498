#include "shell/frmPassDefine.h"

#include "platform/MsgBox.h"
#include "settings/modGlobClientVar.h"
#include "shell/modSecurityPassword.h"

#include <QLineEdit>
#include <QPushButton>

namespace {
Forms::Instance<frmPassDefine> g_dialog;
} // namespace

frmPassDefine *frmPassDefine::Instance()
{
    return g_dialog.get();
}

frmPassDefine &frmPassDefine::Load()
{
    return g_dialog.load();
}

frmPassDefine::frmPassDefine()
    : PasswordDialog("frmPassDefine", QStringLiteral("Password Definition"), QSize(4770, 2595), QPoint(1920, 2100),
                     3240, modGlobClientVar::gWaitPasswordDefine)
{
    Label4 = label("Label4", QStringLiteral("Old Password:"), 360, 300, 1995);
    txtOldPassword = passwordField("txtOldPassword", 2580, 300, 1875);
    Label2 = label("Label2", QStringLiteral("New Password:"), 360, 900, 1995);
    txtNewPassword = passwordField("txtNewPassword", 2580, 900, 1875);
    Label1 = label("Label1", QStringLiteral("Verify new Password"), 360, 1500, 1995);
    txtVerifyNewPassword = passwordField("txtVerifyNewPassword", 2580, 1500, 1875);

    // A longer password would be stored but read back cut, and could never be entered again.
    txtNewPassword->setMaxLength(MaxPasswordLength);
    txtVerifyNewPassword->setMaxLength(MaxPasswordLength);

    setTabOrder(txtOldPassword, txtNewPassword);
    setTabOrder(txtNewPassword, txtVerifyNewPassword);
    setTabOrder(txtVerifyNewPassword, cmdOk);
    setTabOrder(cmdOk, cmdCancel);
}

void frmPassDefine::forget()
{
    g_dialog.forget(this);
}

void frmPassDefine::Form_Load()
{
    for (QLineEdit *field : {txtOldPassword, txtNewPassword, txtVerifyNewPassword})
        field->clear();
    PasswordDialog::Form_Load();
}

void frmPassDefine::EnableOldPassword(bool enabled)
{
    txtOldPassword->setEnabled(enabled);
}

void frmPassDefine::Form_Activate()
{
    if (txtOldPassword->isEnabled() && txtOldPassword->isVisible())
        txtOldPassword->setFocus(Qt::ActiveWindowFocusReason);
    else
        txtNewPassword->setFocus(Qt::ActiveWindowFocusReason);
}

void frmPassDefine::cmdOk_Click()
{
    if (txtOldPassword->text() != mSecurityPassword) {
        MsgBox::Show(this, QStringLiteral("Old Password is wrong!"), MsgBox::Exclamation);
        return;
    }
    if (txtNewPassword->text() != txtVerifyNewPassword->text()) {
        MsgBox::Show(this, QStringLiteral("Passwords are not equal!"), MsgBox::Exclamation);
        return;
    }
    // A password that did not reach the file must not be reported as set.
    if (!modSecurityPassword::WriteStoredPassword(txtNewPassword->text())) {
        MsgBox::Show(this, QStringLiteral("The password could not be saved!"), MsgBox::Exclamation);
        return;
    }
    modGlobClientVar::gPasswordOk = true;
    Unload();
}
