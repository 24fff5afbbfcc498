// The remote desktop connection: the check of the entered data, the request to the server
// and the preparation and start of the session.

#include "client/Forms.h"
#include "client/SessionControl.h"
#include "client/frmClient.h"
#include "client/frmMsRdpClient.h"
#include "platform/Conversions.h"
#include "platform/ErrorNumbers.h"
#include "platform/MsgBox.h"
#include "serverlink/SocketControl.h"
#include "serverlink/modSocketCmd.h"
#include "settings/modGlobClientVar.h"
#include "system/modSystemBasic.h"

#include <QComboBox>
#include <QLineEdit>

#include <utility>

using namespace modGlobClientVar;

namespace {

const QString kFullScreen = QStringLiteral("Full-Screen");
const QString kSizeSeparator = QStringLiteral(" x ");

void focusIfPossible(QWidget *w)
{
    if (w->isVisible() && w->isEnabled() && w->focusPolicy() != Qt::NoFocus)
        w->setFocus(Qt::OtherFocusReason);
}

bool isChecked(const CheckBox *box)
{
    return box->Value() == 1;
}

// A resolution the session can be given: "Full-Screen", or a width and a height that read
// as 32-bit numbers, joined by " x " (anything after a third " x " is ignored, as the
// desktop size takes only the first two parts).
bool isUsableResolution(const QString &text)
{
    if (text == kFullScreen)
        return true;
    const QStringList parts = text.split(kSizeSeparator);
    if (parts.size() < 2)
        return false;
    try {
        Conversions::ToInt32(parts.at(0));
        Conversions::ToInt32(parts.at(1));
    } catch (const VbError &) {
        return false;
    }
    return true;
}

} // namespace

void frmClient::cmdRemoteDesktop_Click()
{
    mServer = txtServer->text();
    mUserName = txtUserName->text();
    mPassword = txtPassword->text();
    mResolution = cboResolution->currentText();

    // The first failure ends the handler.
    if (mServer.isEmpty()) {
        MsgBox::Show(this, QStringLiteral("Please enter a Server address"), MsgBox::OkOnly);
        focusIfPossible(txtServer);
        return;
    }
    if (mUserName.isEmpty()) {
        MsgBox::Show(this, QStringLiteral("Please enter a UserName"), MsgBox::OkOnly);
        focusIfPossible(txtUserName);
        return;
    }
    if (mPassword.isEmpty() && chkAutoConnect->Value() == 0 && chkUserPass->Value() == 1) {
        MsgBox::Show(this, QStringLiteral("Please enter a Password"), MsgBox::OkOnly);
        return;
    }
    if (!mPassword.isEmpty() && chkUserPass->Value() == 0) {
        MsgBox::Show(this, QStringLiteral("Please check the Use Password Check Box"), MsgBox::OkOnly);
        return;
    }
    // A typed resolution the session cannot take is refused here as well, before any window
    // is hidden or shown.
    if (mResolution.isEmpty() || !isUsableResolution(mResolution)) {
        MsgBox::Show(this, QStringLiteral("Please choose a Resolution"), MsgBox::OkOnly);
        focusIfPossible(cboResolution);
        return;
    }

    // With the server in charge, only ask it; it answers with the order to connect.
    if (isChecked(chkAutoConnect)) {
        const SocketCmd request{10, cboUsername->currentIndex() + 1};
        QString frame;
        modSocketCmd::BuildCommandFrame(request, frame);
        try {
            Winsock->SendData(frame);
        } catch (const VbError &error) {
            setPanelText(2, error.statusText());
            ConnectSideLink();
        }
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
    mServer = txtServer->text();
    mUserName = txtUserName->text();
    mPassword = txtPassword->text();
    mResolution = cboResolution->currentText();

    SessionControl *msts = Forms::LoadMsRdpClient().msts;
    if (mResolution == kFullScreen) {
        mDesktopWidth = QString::number(modSystemBasic::GetScreenWidth() / modSystemBasic::TwipsPerPixelX());
        mDesktopHeight = QString::number(modSystemBasic::GetScreenHeight() / modSystemBasic::TwipsPerPixelY());
        msts->SecuredSettings()->setFullScreen(1);
    } else {
        const QStringList parts = mResolution.split(kSizeSeparator);
        if (parts.size() < 2)
            ErrorNumbers::raise(ErrorNumbers::SubscriptOutOfRange);
        mDesktopWidth = parts.at(0);
        mDesktopHeight = parts.at(1);
        msts->SecuredSettings()->setFullScreen(0);
    }
}

void frmClient::ConnectToServer()
{
    // A resolution the session cannot take ends the call before any window changes, so the
    // operator is never left without one.
    if (!isUsableResolution(cboResolution->currentText()))
        ErrorNumbers::raise(ErrorNumbers::InvalidPropertyValue);

    // A fresh session window, and with it a fresh control.
    Forms::UnloadMsRdpClient();
    ResolutionSize();
    frmMsRdpClient &session = Forms::LoadMsRdpClient();
    SessionControl *msts = session.msts;

    mRdpNonScriptable = msts->NonScriptable();

    // The window's inside is the control at the desktop's size, whatever frame a window
    // manager draws around it; the frame's corner at (1, 1). A session in a window keeps that
    // size: resized, its pixels would no longer meet the screen's one to one.
    const qint32 desktopWidth = Conversions::ToInt32(mDesktopWidth);
    const qint32 desktopHeight = Conversions::ToInt32(mDesktopHeight);
    session.move(1, 1);
    if (msts->SecuredSettings()->FullScreen() == 1)
        session.resize(desktopWidth, desktopHeight);
    else
        session.setFixedSize(desktopWidth, desktopHeight);
    msts->setGeometry(0, 0, desktopWidth, desktopHeight);

    hide();
    gRdpStarted = true;
    session.setVisible(true);
    session.show();

    // A value the control refuses ends the call; the operator must not be left in front of
    // a session window with no session, so it goes back the way an ended session does.
    try {
        IMsRdpClientAdvancedSettings2 *advanced = msts->AdvancedSettings3();
        advanced->setBitmapPeristence(isChecked(chkBitmap) ? 1 : 0);
        advanced->setCompress(isChecked(chkCompress) ? 1 : 0);
        advanced->setPerformanceFlags(0);
        const std::pair<CheckBox *, qint32> performance[] = {
            {chkDISABLE_CURSOR_SHADOW, 0x20}, {chkDISABLE_CURSORSETTINGS, 0x40}, {chkDISABLE_FULLWINDOWDRAG, 0x02},
            {chkDISABLE_MENUANIMATIONS, 0x04}, {chkDISABLE_THEMING, 0x08},       {chkDISABLE_WALLPAPER, 0x01},
            {chkENABLE_ENHANCED_GRAPHICS, 0x10},
        };
        for (const auto &[box, flag] : performance)
            if (isChecked(box))
                advanced->setPerformanceFlags(advanced->PerformanceFlags() + flag);
        advanced->setRedirectDrives(isChecked(chkRedirectDrives));
        advanced->setRedirectPorts(isChecked(chkRedirectPorts));
        advanced->setRedirectPrinters(isChecked(chkRedirectPrinters));
        advanced->setRedirectSmartCards(isChecked(chkRedirectSmartCards));
        advanced->setDisplayConnectionBar(isChecked(chkDisplayConnectionBar));
        advanced->setEnableAutoReconnect(isChecked(chkEnableAutoReconnect));

        msts->setVisible(true);

        // Without a password the server asks for one.
        if (!txtPassword->text().isEmpty())
            mRdpNonScriptable->setClearTextPassword(mPassword);

        msts->setServer(mServer);
        msts->setUserName(mUserName);
        msts->setDesktopHeight(Conversions::ToInt32(mDesktopHeight));
        msts->setDesktopWidth(Conversions::ToInt32(mDesktopWidth));

        msts->Connect();
    } catch (const VbError &) {
        session.msts_OnDisconnected(0);
        throw;
    }
}
