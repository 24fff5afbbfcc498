#include "client/RemoteDesktopConnection.h"

#include "client/SessionSettings.h"
#include "platform/Conversions.h"
#include "platform/ErrorNumbers.h"

#include <utility>

namespace {

const QString kFullScreen = QStringLiteral("Full-Screen");
const QString kSizeSeparator = QStringLiteral(" x ");

qint32 box(const ConnectionEntry &entry, ClientKey key)
{
    return entry.fields.value(key).toInt();
}

bool isChecked(const ConnectionEntry &entry, ClientKey key)
{
    return box(entry, key) == 1;
}

} // namespace

void RemoteDesktopConnection::copyFields(const ConnectionEntry &entry)
{
    mServer = entry.fields.value(ClientKey::txtServer).toString();
    mUserName = entry.fields.value(ClientKey::txtUserName).toString();
    mPassword = entry.fields.value(ClientKey::txtPassword).toString();
    mResolution = entry.resolution;
}

std::optional<RemoteDesktopConnection::Refusal> RemoteDesktopConnection::Check(const ConnectionEntry &entry)
{
    using enum ClientKey;
    copyFields(entry);
    if (mServer.isEmpty())
        return Refusal{QStringLiteral("Please enter a Server address"), txtServer};
    if (mUserName.isEmpty())
        return Refusal{QStringLiteral("Please enter a UserName"), txtUserName};
    // With the server in charge an empty password is accepted.
    if (mPassword.isEmpty() && box(entry, AutoConnect) == 0 && box(entry, chkUserPass) == 1)
        return Refusal{QStringLiteral("Please enter a Password"), std::nullopt};
    if (!mPassword.isEmpty() && box(entry, chkUserPass) == 0)
        return Refusal{QStringLiteral("Please check the Use Password Check Box"), std::nullopt};
    // A typed resolution the session cannot take is refused here as well, before any window
    // is hidden or shown.
    if (mResolution.isEmpty() || !IsUsableResolution(mResolution))
        return Refusal{QStringLiteral("Please choose a Resolution"), cboResolution};
    return std::nullopt;
}

bool RemoteDesktopConnection::IsUsableResolution(const QString &resolution)
{
    if (resolution == kFullScreen)
        return true;
    const QStringList parts = resolution.split(kSizeSeparator);
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

void RemoteDesktopConnection::ResolutionSize(const ConnectionEntry &entry, QSize screen, IMsTscSecuredSettings &secured)
{
    copyFields(entry);
    if (mResolution == kFullScreen) {
        mDesktopWidth = QString::number(screen.width());
        mDesktopHeight = QString::number(screen.height());
        secured.setFullScreen(1);
    } else {
        const QStringList parts = mResolution.split(kSizeSeparator);
        if (parts.size() < 2)
            ErrorNumbers::raise(ErrorNumbers::SubscriptOutOfRange);
        mDesktopWidth = parts.at(0);
        mDesktopHeight = parts.at(1);
        secured.setFullScreen(0);
    }
}

QSize RemoteDesktopConnection::DesktopSize() const
{
    return QSize(Conversions::ToInt32(mDesktopWidth), Conversions::ToInt32(mDesktopHeight));
}

void RemoteDesktopConnection::ApplySettings(const ConnectionEntry &entry, IMsRdpClientAdvancedSettings2 &advanced) const
{
    using enum ClientKey;
    advanced.setBitmapPeristence(isChecked(entry, chkBitmap) ? 1 : 0);
    advanced.setCompress(isChecked(entry, chkCompress) ? 1 : 0);
    advanced.setPerformanceFlags(0);
    // Each checked box adds its flag, in this order.
    const std::pair<ClientKey, qint32> performance[] = {
        {chkDISABLE_CURSOR_SHADOW, 0x20},  {chkDISABLE_CURSORSETTINGS, 0x40}, {chkDISABLE_FULLWINDOWDRAG, 0x02},
        {chkDISABLE_MENUANIMATIONS, 0x04}, {chkDISABLE_THEMING, 0x08},        {chkDISABLE_WALLPAPER, 0x01},
        {chkENABLE_ENHANCED_GRAPHICS, 0x10},
    };
    for (const auto &[key, flag] : performance)
        if (isChecked(entry, key))
            advanced.setPerformanceFlags(advanced.PerformanceFlags() + flag);
    advanced.setRedirectDrives(isChecked(entry, chkRedirectDrives));
    advanced.setRedirectPorts(isChecked(entry, chkRedirectPorts));
    advanced.setRedirectPrinters(isChecked(entry, chkRedirectPrinters));
    advanced.setRedirectSmartCards(isChecked(entry, chkRedirectSmartCards));
    advanced.setDisplayConnectionBar(isChecked(entry, chkDisplayConnectionBar));
    advanced.setEnableAutoReconnect(isChecked(entry, chkEnableAutoReconnect));
}

void RemoteDesktopConnection::Connect(const ConnectionEntry &entry, IMsRdpClient &control) const
{
    // Without a password the server asks for one.
    if (!entry.fields.value(ClientKey::txtPassword).toString().isEmpty())
        mRdpNonScriptable->setClearTextPassword(mPassword);
    control.setServer(mServer);
    control.setUserName(mUserName);
    control.setDesktopHeight(Conversions::ToInt32(mDesktopHeight));
    control.setDesktopWidth(Conversions::ToInt32(mDesktopWidth));
    control.Connect();
}
