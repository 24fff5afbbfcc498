// User profiles sent by the server: receiving them, the profile list and its handlers, and
// the session state reported to the server.

#include "client/frmClient.h"

#include "platform/ErrorNumbers.h"
#include "settings/modGlobClientVar.h"

#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalBlocker>

#include <memory>

using namespace modGlobClientVar;

namespace {

// A list selection the resolution box can take: one of its entries, or none (-1).
bool isResolutionEntry(const QComboBox *box, qint32 index)
{
    return index >= -1 && index < box->count();
}

} // namespace

void frmClient::ReceiveUserProfile(qint32 n, const QString &username, const QString &password, qint32 resolution)
{
    // A new series drops the previous list. A series whose start was never seen still
    // needs a collection to go into.
    if (n == 1 || !gUsersConfig)
        gUsersConfig = std::make_unique<clsUsersConfig>();

    auto profile = std::make_shared<clsUserConfig>();
    profile->setUsername(username);
    profile->setPassword(password);
    profile->setResolution(resolution);

    // A name already held (in any case) is not held twice.
    gUsersConfig->Add(profile, profile->Username());

    qint32 index = n;
    ShowUserConfig(index);
}

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
    cmdRemoteDesktop->setEnabled(true);
    cmdShutDown->setEnabled(true);
    cmdRestart->setEnabled(true);
}

void frmClient::ShowUserConfig(qint32 &Index)
{
    if (!gUsersConfig)
        ErrorNumbers::raise(ErrorNumbers::SubscriptOutOfRange);
    const clsUsersConfig::Profile profile = gUsersConfig->Item(Index);
    txtUserName->setText(profile->Username());
    txtPassword->setText(profile->Password());
    if (!isResolutionEntry(cboResolution, profile->Resolution()))
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
    // A resolution the box does not have leaves its selection as it was.
    if (isResolutionEntry(cboResolution, profile->Resolution()))
        cboResolution->setCurrentIndex(profile->Resolution());
}

void frmClient::cboUsername_KeyPress(int &KeyAscii)
{
    // The list is only chosen from, never typed into.
    KeyAscii = 0;
}

void frmClient::GetRdpState(SocketCmd &command) const
{
    if (!gRdpStarted)
        command.Argument = 0;
    else
        command.Argument = gRdpConnected ? 3 : 1;
}
