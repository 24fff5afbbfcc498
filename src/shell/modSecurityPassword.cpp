#include "shell/modSecurityPassword.h"

#include "settings/modGlobClientVar.h"
#include "settings/modSettings.h"
#include "shell/frmEnterPassword.h"
#include "shell/frmPassDefine.h"

#include <QCoreApplication>
#include <QLineEdit>
#include <QThread>
#include <QVariant>

using namespace modGlobClientVar;

namespace modSecurityPassword {

namespace {
const QString Section = QStringLiteral("Client");
const QString Key = QStringLiteral("SecurityPassword");
const QString TypeText = QStringLiteral("S");

void showDialog(QDialog *dialog)
{
    // A dialog that is already open (shared by a second call) comes to the front again.
    if (dialog->isVisible())
        dialog->raise();
    dialog->show();
    dialog->activateWindow();
}
} // namespace

QString ReadStoredPassword()
{
    QVariant value;
    modSettings::ReadSetting(gClientCfgFile, Section, Key, TypeText, QVariant(0), value);
    return value.toString();
}

bool WriteStoredPassword(const QString &password)
{
    // The accessor reports success even when the file cannot be written; only reading the
    // value back tells.
    const QString previous = ReadStoredPassword();
    modSettings::WriteSetting(gClientCfgFile, Section, Key, TypeText, password);
    if (ReadStoredPassword() == password)
        return true;
    modSettings::WriteSetting(gClientCfgFile, Section, Key, TypeText, previous);
    return false;
}

bool CheckSecurityPassword()
{
    if (!gSecurityEnabled)
        return true;
    // A prompt already open (a gate call further down the stack) is shared, not reloaded.
    showDialog(&frmEnterPassword::Load());
    WaitForDialogClose(gWaitPasswordPrompt);
    return gPasswordOk;
}

void WaitForDialogClose(bool &flag)
{
    flag = true;
    do {
        QCoreApplication::processEvents(QEventLoop::AllEvents);
        QThread::msleep(100);
    } while (flag);
}

void mnuSecConfig_Click()
{
    QString stored;
    try {
        stored = ReadStoredPassword();
    } catch (...) {
    }
    frmPassDefine *dialog = nullptr;
    try {
        dialog = &frmPassDefine::Load();
    } catch (...) {
    }
    // Without a dialog nothing could ever end the wait.
    if (!dialog)
        return;
    dialog->EnableOldPassword(stored != QLatin1String("0"));
    showDialog(dialog);
    WaitForDialogClose(gWaitPasswordDefine);
}

} // namespace modSecurityPassword
