#include "shell/PasswordDialog.h"

#include "client/FormLayout.h"
#include "settings/modGlobClientVar.h"
#include "shell/modSecurityPassword.h"
#include "system/modSystemBasic.h"

#include <QCloseEvent>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

using FormLayout::Place;

PasswordDialog::PasswordDialog(const char *name, const QString &caption, QSize area, QPoint ok, int cancelLeft,
                               bool &waitFlag)
    : QDialog(nullptr, FormLayout::FixedDialogFlags), mWaitFlag(waitFlag)
{
    setObjectName(QLatin1String(name));
    setWindowTitle(caption);
    setWindowIcon(FormLayout::Icon(QStringLiteral(":/password.xpm")));
    setFont(FormLayout::Arial());
    setModal(false);
    setFixedSize(FormLayout::TwipsSize(area.width(), area.height()));

    cmdOk = new QPushButton(QStringLiteral("&Ok"), this);
    cmdOk->setObjectName(QStringLiteral("cmdOk"));
    cmdOk->setDefault(true);
    Place(cmdOk, ok.x(), ok.y(), 1215, 375);
    cmdCancel = new QPushButton(QStringLiteral("Cancel"), this);
    cmdCancel->setObjectName(QStringLiteral("cmdCancel"));
    Place(cmdCancel, cancelLeft, ok.y(), 1215, 375);

    connect(cmdOk, &QPushButton::clicked, this, &PasswordDialog::cmdOk_Click);
    connect(cmdCancel, &QPushButton::clicked, this, &PasswordDialog::cmdCancel_Click);
    FormLayout::CenterOnScreen(this);
}

PasswordDialog::~PasswordDialog()
{
    // Destroyed without an unload (the program going down): release the waiting caller.
    if (!mUnloaded) {
        mUnloaded = true;
        Form_Unload();
    }
}

QLabel *PasswordDialog::label(const char *name, const QString &caption, int left, int top, int width)
{
    auto *l = new QLabel(caption, this);
    l->setObjectName(QLatin1String(name));
    Place(l, left, top, width, 300);
    return l;
}

QLineEdit *PasswordDialog::passwordField(const char *name, int left, int top, int width)
{
    auto *field = new QLineEdit(this);
    field->setObjectName(QLatin1String(name));
    field->setEchoMode(QLineEdit::Password);
    field->setStyleSheet(FormLayout::PasswordFieldStyle);
    Place(field, left, top, width, 315);
    return field;
}

void PasswordDialog::Unload()
{
    if (mUnloaded)
        return;
    mUnloaded = true;
    forget();
    Form_Unload();
    hide();
    // A button of this window may still be on the call stack.
    deleteLater();
}

void PasswordDialog::Form_Load()
{
    modSystemBasic::SetFormOnTop(this);
    modGlobClientVar::gPasswordOk = false;
    mSecurityPassword.clear();
    const QString stored = modSecurityPassword::ReadStoredPassword();
    if (stored != QLatin1String("0"))
        mSecurityPassword = stored;
}

void PasswordDialog::cmdCancel_Click()
{
    Unload();
}

void PasswordDialog::Form_Unload()
{
    mWaitFlag = false;
}

bool PasswordDialog::event(QEvent *e)
{
    const bool result = QDialog::event(e);
    if (e->type() == QEvent::WindowActivate && !mUnloaded)
        Form_Activate();
    return result;
}

void PasswordDialog::closeEvent(QCloseEvent *e)
{
    e->accept();
    if (!mUnloaded)
        cmdCancel_Click();
}

void PasswordDialog::reject()
{
    if (!mUnloaded)
        cmdCancel_Click();
}
