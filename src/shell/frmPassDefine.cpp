#include "shell/frmPassDefine.h"

#include "platform/MsgBox.h"
#include "settings/modGlobClientVar.h"
#include "shell/DialogGeometry.h"
#include "shell/modSecurityPassword.h"
#include "system/modSystemBasic.h"

#include <QCloseEvent>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>

using namespace modGlobClientVar;

namespace {
QPointer<frmPassDefine> g_dialog;

QLineEdit *passwordField(QWidget *parent, const char *name)
{
    auto *field = new QLineEdit(parent);
    field->setObjectName(QLatin1String(name));
    field->setEchoMode(QLineEdit::Password);
    field->setStyleSheet(DialogGeometry::PasswordFieldStyle);
    return field;
}

QLabel *label(QWidget *parent, const char *name, const char *caption)
{
    auto *l = new QLabel(QLatin1String(caption), parent);
    l->setObjectName(QLatin1String(name));
    return l;
}
} // namespace

frmPassDefine *frmPassDefine::Instance()
{
    return g_dialog.data();
}

frmPassDefine &frmPassDefine::Load()
{
    if (!g_dialog) {
        g_dialog = new frmPassDefine;
        g_dialog->Form_Load();
    }
    return *g_dialog;
}

frmPassDefine::frmPassDefine() : QDialog(nullptr, DialogGeometry::FixedDialogFlags)
{
    using namespace DialogGeometry;
    setObjectName(QStringLiteral("frmPassDefine"));
    setWindowTitle(QStringLiteral("Password Definition"));
    setWindowIcon(QIcon(QStringLiteral(":/password.xpm")));
    setFont(dialogFont());
    setModal(false);
    setFixedSize(twipsSize(4770, 2595));

    Label4 = label(this, "Label4", "Old Password:");
    place(Label4, 360, 300, 1995, 300);
    txtOldPassword = passwordField(this, "txtOldPassword");
    place(txtOldPassword, 2580, 300, 1875, 315);

    Label2 = label(this, "Label2", "New Password:");
    place(Label2, 360, 900, 1995, 300);
    txtNewPassword = passwordField(this, "txtNewPassword");
    place(txtNewPassword, 2580, 900, 1875, 315);

    Label1 = label(this, "Label1", "Verify new Password");
    place(Label1, 360, 1500, 1995, 300);
    txtVerifyNewPassword = passwordField(this, "txtVerifyNewPassword");
    place(txtVerifyNewPassword, 2580, 1500, 1875, 315);

    // A longer password would be stored but read back cut, and could never be entered again.
    txtNewPassword->setMaxLength(MaxPasswordLength);
    txtVerifyNewPassword->setMaxLength(MaxPasswordLength);

    cmdOk = new QPushButton(QStringLiteral("&Ok"), this);
    cmdOk->setObjectName(QStringLiteral("cmdOk"));
    cmdOk->setDefault(true);
    place(cmdOk, 1920, 2100, 1215, 375);

    cmdCancel = new QPushButton(QStringLiteral("Cancel"), this);
    cmdCancel->setObjectName(QStringLiteral("cmdCancel"));
    place(cmdCancel, 3240, 2100, 1215, 375);

    setTabOrder(txtOldPassword, txtNewPassword);
    setTabOrder(txtNewPassword, txtVerifyNewPassword);
    setTabOrder(txtVerifyNewPassword, cmdOk);
    setTabOrder(cmdOk, cmdCancel);

    connect(cmdOk, &QPushButton::clicked, this, &frmPassDefine::cmdOk_Click);
    connect(cmdCancel, &QPushButton::clicked, this, &frmPassDefine::cmdCancel_Click);

    centerOnScreen(this);
}

frmPassDefine::~frmPassDefine()
{
    // Destroyed without an unload (the program going down): release the waiting caller.
    if (!mUnloaded) {
        mUnloaded = true;
        Form_Unload();
    }
}

void frmPassDefine::Unload()
{
    if (mUnloaded)
        return;
    mUnloaded = true;
    if (g_dialog == this)
        g_dialog = nullptr;
    Form_Unload();
    hide();
    // A button of this window may still be on the call stack.
    deleteLater();
}

void frmPassDefine::Form_Load()
{
    modSystemBasic::SetFormOnTop(this);
    gPasswordOk = false;
    mSecurityPassword.clear();
    txtOldPassword->clear();
    txtNewPassword->clear();
    txtVerifyNewPassword->clear();
    const QString stored = modSecurityPassword::ReadStoredPassword();
    if (stored != QLatin1String("0"))
        mSecurityPassword = stored;
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
    if (!modSecurityPassword::IsStorable(txtNewPassword->text())) {
        MsgBox::Show(this, QStringLiteral("A password cannot begin or end with a blank or be enclosed in quotes!"),
                     MsgBox::Exclamation);
        return;
    }
    // A password that did not reach the file must not be reported as set.
    if (!modSecurityPassword::WriteStoredPassword(txtNewPassword->text())) {
        MsgBox::Show(this, QStringLiteral("The password could not be saved!"), MsgBox::Exclamation);
        return;
    }
    gPasswordOk = true;
    Unload();
}

void frmPassDefine::cmdCancel_Click()
{
    Unload();
}

void frmPassDefine::Form_Unload()
{
    gWaitPasswordDefine = false;
}

bool frmPassDefine::event(QEvent *e)
{
    const bool result = QDialog::event(e);
    if (e->type() == QEvent::WindowActivate && !mUnloaded)
        Form_Activate();
    return result;
}

void frmPassDefine::closeEvent(QCloseEvent *e)
{
    // The close box counts as Cancel.
    e->accept();
    if (!mUnloaded)
        cmdCancel_Click();
}

void frmPassDefine::reject()
{
    if (!mUnloaded)
        cmdCancel_Click();
}
