#include "client/frmClient.h"

#include "platform/VbError.h"
#include "serverlink/SocketControl.h"
#include "serverlink/modSocketCmd.h"
#include "shell/modSecurityPassword.h"
#include "system/OnScreenKeyboard.h"
#include "system/modSystemBasic.h"

#include <QLineEdit>
#include <QPointer>

namespace {

// Command 12: the panel asks the server to let it go down.
constexpr qint32 CmdShutdownRequest = 12;
constexpr qint32 ArgumentRestart = 1;
constexpr qint32 ArgumentTurnOff = 3;

// Typed characters the fields take; the text before a key must not be longer.
constexpr int PortLimit = 5;
constexpr int ServerLimit = 30;

void requestShutdown(frmClient *form, qint32 argument)
{
    // The gate processes events while its prompt is open: the window may be rebuilt or
    // unloaded meanwhile, and then there is nothing left to send from.
    QPointer<frmClient> self(form);
    if (!modSecurityPassword::CheckSecurityPassword())
        return;
    if (!self)
        return;
    try {
        SocketCmd command;
        command.Cmd = CmdShutdownRequest;
        command.Argument = argument;
        QString frame;
        modSocketCmd::BuildCommandFrame(command, frame);
        self->Winsock->SendData(frame);
    } catch (const VbError &error) {
        self->setPanelText(2, error.statusText());
    }
}

} // namespace

void frmClient::cmdRestart_Click()
{
    requestShutdown(this, ArgumentRestart);
}

void frmClient::cmdShutDown_Click()
{
    requestShutdown(this, ArgumentTurnOff);
}

void frmClient::cmdKeyboard_Click()
{
    QString reason;
    if (!OnScreenKeyboard::Start(&reason))
        setPanelText(2, QStringLiteral("On-Screen Keyboard could not be started: %1").arg(reason));
}

void frmClient::txtPort_KeyPress(int &KeyAscii)
{
    // A character beyond the 16-bit range is no digit either.
    qint16 key = (KeyAscii >= 0 && KeyAscii <= 0x7FFF) ? static_cast<qint16>(KeyAscii) : qint16(0);
    modSystemBasic::FilterDigitKey(key);
    KeyAscii = key;
    if (txtPort->text().length() > PortLimit)
        KeyAscii = 0;
}

void frmClient::txtServer_KeyPress(int &KeyAscii)
{
    if (txtServer->text().length() > ServerLimit)
        KeyAscii = 0;
}
