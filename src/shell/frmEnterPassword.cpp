#include "shell/frmEnterPassword.h"

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
QPointer<frmEnterPassword> g_prompt;
} // namespace

frmEnterPassword *frmEnterPassword::Instance()
{
    return g_prompt.data();
}

frmEnterPassword &frmEnterPassword::Load()
{
    if (!g_prompt) {
        g_prompt = new frmEnterPassword;
        g_prompt->Form_Load();
    }
    return *g_prompt;
}

frmEnterPassword::frmEnterPassword() : QDialog(nullptr, DialogGeometry::FixedDialogFlags)
{
    using namespace DialogGeometry;
    setObjectName(QStringLiteral("frmEnterPassword"));
    setWindowTitle(QStringLiteral("Password"));
    setWindowIcon(QIcon(QStringLiteral(":/password.xpm")));
    setFont(dialogFont());
    setModal(false);
    setFixedSize(twipsSize(4965, 1650));

    Label4 = new QLabel(QStringLiteral("Enter your Password:"), this);
    Label4->setObjectName(QStringLiteral("Label4"));
    place(Label4, 360, 420, 2295, 300);

    txtEnterPassword = new QLineEdit(this);
    txtEnterPassword->setObjectName(QStringLiteral("txtEnterPassword"));
    txtEnterPassword->setEchoMode(QLineEdit::Password);
    txtEnterPassword->setStyleSheet(PasswordFieldStyle);
    place(txtEnterPassword, 2880, 420, 1755, 315);

    cmdOk = new QPushButton(QStringLiteral("&Ok"), this);
    cmdOk->setObjectName(QStringLiteral("cmdOk"));
    cmdOk->setDefault(true);
    place(cmdOk, 2100, 1140, 1215, 375);

    cmdCancel = new QPushButton(QStringLiteral("Cancel"), this);
    cmdCancel->setObjectName(QStringLiteral("cmdCancel"));
    place(cmdCancel, 3420, 1140, 1215, 375);

    setTabOrder(txtEnterPassword, cmdOk);
    setTabOrder(cmdOk, cmdCancel);

    connect(cmdOk, &QPushButton::clicked, this, &frmEnterPassword::cmdOk_Click);
    connect(cmdCancel, &QPushButton::clicked, this, &frmEnterPassword::cmdCancel_Click);

    centerOnScreen(this);
}

frmEnterPassword::~frmEnterPassword()
{
    // Destroyed without an unload (the program going down): release the waiting gate.
    if (!mUnloaded) {
        mUnloaded = true;
        Form_Unload();
    }
}

void frmEnterPassword::Unload()
{
    if (mUnloaded)
        return;
    mUnloaded = true;
    if (g_prompt == this)
        g_prompt = nullptr;
    Form_Unload();
    hide();
    // A button of this window may still be on the call stack.
    deleteLater();
}

void frmEnterPassword::Form_Load()
{
    modSystemBasic::SetFormOnTop(this);
    gPasswordOk = false;
    mSecurityPassword.clear();
    const QString stored = modSecurityPassword::ReadStoredPassword();
    if (stored != QLatin1String("0"))
        mSecurityPassword = stored;
}

void frmEnterPassword::Form_Activate()
{
    if (txtEnterPassword->isEnabled() && txtEnterPassword->isVisible())
        txtEnterPassword->setFocus(Qt::ActiveWindowFocusReason);
}

void frmEnterPassword::cmdOk_Click()
{
    if (mSecurityPassword == txtEnterPassword->text()) {
        gPasswordOk = true;
        Unload();
    } else {
        MsgBox::Show(this, QStringLiteral("Wrong Password"), MsgBox::Exclamation);
    }
}

void frmEnterPassword::cmdCancel_Click()
{
    Unload();
}

void frmEnterPassword::Form_Unload()
{
    gWaitPasswordPrompt = false;
}

bool frmEnterPassword::event(QEvent *e)
{
    const bool result = QDialog::event(e);
    if (e->type() == QEvent::WindowActivate && !mUnloaded)
        Form_Activate();
    return result;
}

void frmEnterPassword::closeEvent(QCloseEvent *e)
{
    // The close box counts as Cancel.
    e->accept();
    if (!mUnloaded)
        cmdCancel_Click();
}

void frmEnterPassword::reject()
{
    if (!mUnloaded)
        cmdCancel_Click();
}
