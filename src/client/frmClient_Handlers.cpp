// The main window's handlers and the side link's view of it: each hands its work to the
// class that does it and shows the outcome.

#include "client/Forms.h"
#include "client/MainWindowHost.h"
#include "client/RemoteDesktopConnection.h"
#include "client/SessionControl.h"
#include "client/VbControls.h"
#include "client/frmClient.h"
#include "client/frmMsRdpClient.h"
#include "platform/ErrorNumbers.h"
#include "platform/MsgBox.h"
#include "serverlink/SideLinkMessages.h"
#include "serverlink/SideLinkSupervisor.h"
#include "serverlink/SocketControl.h"
#include "settings/ClientConfig.h"
#include "settings/modGlobClientVar.h"
#include "system/OnScreenKeyboard.h"
#include "system/modSystemBasic.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QSignalBlocker>
#include <QTimer>

using namespace modGlobClientVar;

namespace {

// Typed characters the fields take; the text before a key must not be longer.
constexpr int PortLimit = 5;
constexpr int ServerLimit = 30;

void focusIfPossible(QWidget *w)
{
    if (w && w->isVisible() && w->isEnabled() && w->focusPolicy() != Qt::NoFocus)
        w->setFocus(Qt::OtherFocusReason);
}

} // namespace

// --- client configuration

ClientConfig frmClient::configuration() const
{
    ClientConfig config;
    for (const ClientConfig::Key &key : ClientConfig::Keys()) {
        if (auto *text = qobject_cast<QLineEdit *>(holderOf(key.key)))
            config.setValue(key.key, text->text());
        else if (auto *box = qobject_cast<CheckBox *>(holderOf(key.key)))
            config.setValue(key.key, box->Value());
        else if (key.holder == ClientConfig::Holder::Resolution)
            config.setValue(key.key, cboResolution->currentIndex());
    }
    return config;
}

void frmClient::applyConfiguration(const ClientConfig &config)
{
    for (const ClientConfig::Key &key : ClientConfig::Keys()) {
        const QVariant value = config.value(key.key);
        if (value.isNull())
            continue;
        if (auto *text = qobject_cast<QLineEdit *>(holderOf(key.key)))
            text->setText(value.toString());
        else if (auto *box = qobject_cast<CheckBox *>(holderOf(key.key)))
            box->setValue(value.toInt());
        else if (key.holder == ClientConfig::Holder::Resolution)
            cboResolution->setCurrentIndex(value.toInt());
    }
}

void frmClient::ReadConfigurationFromFile()
{
    ClientConfig config;
    config.Read();
    applyConfiguration(config);
}

void frmClient::WriteConfigurationToFile()
{
    configuration().Write();
}

void frmClient::cmdSave_Click()
{
    WriteConfigurationToFile();
    ClientConfig::WriteAutostart(chkAutoConnect->Value() == 1);

    timControl->stop();
    if (chkAutoConnect->Value() == 0 && Winsock->State() != SocketControl::sckClosed) {
        Winsock->Close();
        setPanelText(1, QStringLiteral("Not connected"));
    }

    // The reload destroys this window, whose button is still delivering the click: it
    // runs as soon as the click has been handled.
    QTimer::singleShot(0, QCoreApplication::instance(), [] {
        if (MainWindowHost *host = Forms::Host())
            host->RefreshMainForm();
    });
}

void frmClient::cmdSetDefault_Click()
{
    applyConfiguration(ClientConfig::Defaults());
}

// --- user profiles

void frmClient::ShowUserList()
{
    {
        // The list is refilled quietly; the one selection below fills the fields.
        const QSignalBlocker quiet(cboUsername);
        cboUsername->clear();
        if (gUsersConfig)
            for (const auto &profile : *gUsersConfig)
                cboUsername->addItem(profile->Username());
        cboUsername->move(txtUserName->pos());
        cboUsername->setCurrentIndex(cboUsername->count() > 0 ? 0 : -1);
    }
    cboUsername_Click();
    cboUsername->setVisible(true);
    txtUserName->setVisible(false);
    EnableServerButtons(true);
}

void frmClient::ShowUserConfig(qint32 &Index)
{
    if (!gUsersConfig)
        ErrorNumbers::raise(ErrorNumbers::SubscriptOutOfRange);
    const clsUsersConfig::Profile profile = gUsersConfig->Item(Index);
    txtUserName->setText(profile->Username());
    txtPassword->setText(profile->Password());
    if (!ClientConfig::IsResolutionIndex(profile->Resolution()))
        ErrorNumbers::raise(ErrorNumbers::InvalidPropertyValue);
    cboResolution->setCurrentIndex(profile->Resolution());
}

void frmClient::cboUsername_Click()
{
    const int selected = cboUsername->currentIndex();
    if (cboUsername->count() == 0 || selected < 0 || !gUsersConfig || selected + 1 > gUsersConfig->Count())
        return;
    const clsUsersConfig::Profile profile = gUsersConfig->Item(selected + 1);
    txtUserName->setText(profile->Username());
    txtPassword->setText(profile->Password());
    // A resolution the list does not have leaves its selection as it was.
    if (ClientConfig::IsResolutionIndex(profile->Resolution()))
        cboResolution->setCurrentIndex(profile->Resolution());
}

void frmClient::cboUsername_KeyPress(int &KeyAscii)
{
    // The list is only chosen from, never typed into.
    KeyAscii = 0;
}

// --- remote desktop connection

ConnectionEntry frmClient::connectionEntry() const
{
    return ConnectionEntry{configuration(), cboResolution->currentText()};
}

void frmClient::cmdRemoteDesktop_Click()
{
    // The first failure ends the handler.
    if (const auto refusal = mConnection->Check(connectionEntry())) {
        // The box lets the side link go on: a session may start over it, or the window be
        // rebuilt and this one go.
        const QPointer<frmClient> self(this);
        MsgBox::Show(this, refusal->message, MsgBox::OkOnly);
        if (!self)
            return;
        if (refusal->focus)
            focusIfPossible(holderOf(*refusal->focus));
        return;
    }

    // With the server in charge, only ask it; it answers with the order to connect.
    if (chkAutoConnect->Value() == 1) {
        if (!mMessages->Send(SideLinkCommand::ConnectionRequest, cboUsername->currentIndex() + 1))
            ConnectSideLink();
        return;
    }

    try {
        ConnectToServer();
    } catch (const VbError &error) {
        setPanelText(2, error.statusText());
    }
}

void frmClient::ResolutionSize()
{
    mConnection->ResolutionSize(connectionEntry(), screenPixels(), *Forms::LoadMsRdpClient().msts->SecuredSettings());
}

void frmClient::ConnectToServer()
{
    // A resolution the session cannot take ends the call before any window changes, so the
    // operator is never left without one.
    const ConnectionEntry entry = connectionEntry();
    if (!RemoteDesktopConnection::IsUsableResolution(entry.resolution))
        ErrorNumbers::raise(ErrorNumbers::InvalidPropertyValue);

    // A fresh session window, and with it a fresh control.
    Forms::UnloadMsRdpClient();
    ResolutionSize();
    frmMsRdpClient &session = Forms::LoadMsRdpClient();
    SessionControl *msts = session.msts;
    mConnection->mRdpNonScriptable = msts->NonScriptable();

    // The window's inside is the control at the desktop's size, whatever frame a window
    // manager draws around it; the frame's corner at (1, 1). A session in a window keeps that
    // size: resized, its pixels would no longer meet the screen's one to one.
    const QSize desktop = mConnection->DesktopSize();
    session.move(1, 1);
    if (msts->FullScreen() == 1)
        session.resize(desktop);
    else
        session.setFixedSize(desktop);
    msts->setGeometry(QRect(QPoint(0, 0), desktop));

    hide();
    // Hidden for the session, the window gives back the toolkit's copy of its picture (3 MB on
    // a 1024 x 768 screen); shown again afterwards, it is made anew.
    destroy();
    session.setVisible(true);
    session.show();

    // A value the control refuses ends the call; the operator must not be left in front of
    // a session window with no session, so it goes back the way an ended session does.
    try {
        mConnection->ApplySettings(entry, *msts->AdvancedSettings3());
        msts->setVisible(true);
        mConnection->Connect(entry, *msts);
    } catch (const VbError &) {
        session.msts_OnDisconnected(0);
        throw;
    }
}

// --- side link

void frmClient::ConnectSideLink()
{
    mSupervisor->ConnectSideLink();
}

void frmClient::Winsock_Connect()
{
    txtClientIP->setText(Winsock->LocalIP());
    mSupervisor->Winsock_Connect();
}

void frmClient::Winsock_Close()
{
    mSupervisor->Winsock_Close();
}

void frmClient::Winsock_Error(qint32 number, const QString &description)
{
    mSupervisor->Winsock_Error(number, description);
}

void frmClient::Winsock_DataArrival(qint32 bytesTotal)
{
    mMessages->Winsock_DataArrival(bytesTotal);
}

qint32 frmClient::AutoConnect() const
{
    return chkAutoConnect->Value();
}

QString frmClient::ServerText() const
{
    return txtServer->text();
}

QString frmClient::PortText() const
{
    return txtPort->text();
}

void frmClient::ShowServerVersion(const QString &text)
{
    lblServerVersion->setText(text);
    lblServerVersionLabel->setVisible(true);
    lblServerVersion->setVisible(true);
}

void frmClient::HideServerVersion()
{
    lblServerVersionLabel->setVisible(false);
    lblServerVersion->setVisible(false);
}

void frmClient::EnableServerButtons(bool enabled)
{
    for (QPushButton *button : {cmdRemoteDesktop, cmdShutDown, cmdRestart})
        button->setEnabled(enabled);
}

void frmClient::ShowLockStatus(qint32 colour)
{
    shpLockStatus->setFillColor(colour);
    if (shpLockStatus->isHidden())
        shpLockStatus->setVisible(true);
}

void frmClient::HideLockStatus()
{
    shpLockStatus->setVisible(false);
}

qint32 frmClient::UserListCount() const
{
    return cboUsername->count();
}

void frmClient::SelectUser(qint32 entry)
{
    cboUsername->setCurrentIndex(entry);
}

bool frmClient::RdpStarted() const
{
    return Forms::SessionState() != SessionControl::SessionState::NotStarted;
}

bool frmClient::RdpConnected() const
{
    return Forms::SessionState() == SessionControl::SessionState::Connected;
}

// --- panel buttons and key filters

void frmClient::requestExit(qint32 argument)
{
    // The gate processes events while its prompt is open: the window may be rebuilt or
    // unloaded meanwhile, and then there is nothing left to send from.
    QPointer<frmClient> self(this);
    MainWindowHost *host = Forms::Host();
    if (!host || !host->CheckSecurityPassword() || !self)
        return;
    mMessages->Send(SideLinkCommand::ExitRequest, argument);
}

void frmClient::cmdRestart_Click()
{
    requestExit(1);
}

void frmClient::cmdShutDown_Click()
{
    requestExit(3);
}

void frmClient::cmdKeyboard_Click()
{
    // Panel 2 keeps the server's lock state: a box tells the operator instead.
    QString reason;
    if (!OnScreenKeyboard::Start(&reason))
        MsgBox::Show(this, QStringLiteral("The On-Screen Keyboard could not be started: %1").arg(reason),
                     MsgBox::Exclamation);
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
