#include "settings/ClientConfig.h"

#include "platform/Conversions.h"
#include "platform/Logging.h"
#include "platform/Registry.h"
#include "platform/VbError.h"
#include "settings/RegistryValues.h"
#include "settings/modGlobClientVar.h"
#include "settings/modSettings.h"

#include <QCoreApplication>
#include <QFileInfo>

using namespace modGlobClientVar;

namespace {

const QString kClientSection = QStringLiteral("Client");
const QString kUserSection = QStringLiteral("UserConfig");
const QString kText = QStringLiteral("S");
const QString kAutostartValue = QStringLiteral("ClientStart");

// A text that reads as a number, and that number.
bool readsAsNumber(const QString &text, double &number)
{
    if (!Conversions::IsNumeric(text))
        return false;
    number = Conversions::ToDouble(text);
    return true;
}

qint32 *countOf(ClientKey key)
{
    return key == ClientKey::StartConnectLifeCnt ? &gStartConnectLifeCnt : &gStartLifeCnt;
}

QString readUser(const QString &key, const QVariant &defaultValue)
{
    QVariant value;
    modSettings::ReadSetting(gUserCfgFile, kUserSection, key, kText, defaultValue, value);
    return Conversions::ToText(value);
}

void readUserConfig()
{
    // A value that does not convert leaves its global as it was.
    try {
        const QString text = readUser(QStringLiteral("UserProcessName"), QVariant(0));
        double number = 0;
        if (!readsAsNumber(text, number) || number > 0)
            gUserProcessName = text;
    } catch (const VbError &) {
    }
    try {
        const QString text = readUser(QStringLiteral("MaxTryConnectActionCnt"), QString());
        if (!text.isEmpty())
            gMaxTryConnectActionCnt = Conversions::ToInt32(text);
    } catch (const VbError &) {
    }
    const QString text = readUser(QStringLiteral("TryConnectActionCnt"), QString());
    if (text.isEmpty())
        return;
    try {
        gTryConnectActionCnt = Conversions::ToInt32(text);
    } catch (const VbError &) {
    }
    if (gMaxTryConnectActionCnt < gTryConnectActionCnt)
        gTryConnectActionCnt = gMaxTryConnectActionCnt;
}

} // namespace

const std::array<ClientConfig::Key, ClientKeyCount> &ClientConfig::Keys()
{
    using enum ClientKey;
    using enum Holder;
    // The control of a key is the one of the same name, but for "Connect to Server" and the counts.
    const auto key = [](ClientKey k, const char *name, Holder holder, const QVariant &setDefault = {}) {
        return Key{k, QLatin1String(name), holder == Count ? QString() : QLatin1String(name), holder, setDefault};
    };
    static const std::array<Key, ClientKeyCount> keys{
        key(txtServer, "txtServer", Text, QStringLiteral("SERVERNAME")),
        key(txtPort, "txtPort", Text, QStringLiteral("12559")),
        key(txtUserName, "txtUserName", Text, QStringLiteral("Username")),
        key(txtPassword, "txtPassword", Text, QStringLiteral("Password")), // a placeholder to overwrite
        key(chkUserPass, "chkUserPass", CheckBox, 1),
        key(cboResolution, "cboResolution", Resolution, 0),
        key(chkDISABLE_WALLPAPER, "chkDISABLE_WALLPAPER", CheckBox, 0),
        key(chkDISABLE_FULLWINDOWDRAG, "chkDISABLE_FULLWINDOWDRAG", CheckBox, 0),
        key(chkDISABLE_MENUANIMATIONS, "chkDISABLE_MENUANIMATIONS", CheckBox, 0),
        key(chkDISABLE_THEMING, "chkDISABLE_THEMING", CheckBox, 0),
        key(chkENABLE_ENHANCED_GRAPHICS, "chkENABLE_ENHANCED_GRAPHICS", CheckBox, 0),
        key(chkDISABLE_CURSOR_SHADOW, "chkDISABLE_CURSOR_SHADOW", CheckBox, 0),
        key(chkDISABLE_CURSORSETTINGS, "chkDISABLE_CURSORSETTINGS", CheckBox, 0),
        key(chkRedirectDrives, "chkRedirectDrives", CheckBox, 0),
        key(chkRedirectPorts, "chkRedirectPorts", CheckBox, 0),
        key(chkRedirectPrinters, "chkRedirectPrinters", CheckBox, 0),
        key(chkRedirectSmartCards, "chkRedirectSmartCards", CheckBox, 0),
        key(chkBitmap, "chkBitmap", CheckBox, 0),
        key(chkCompress, "chkCompress", CheckBox, 0),
        key(chkDisplayConnectionBar, "chkDisplayConnectionBar", CheckBox, 0),
        key(chkEnableAutoReconnect, "chkEnableAutoReconnect", CheckBox, 0),
        Key{AutoConnect, QStringLiteral("AutoConnect"), QStringLiteral("chkAutoConnect"), CheckBox, 0},
        key(StartConnectLifeCnt, "StartConnectLifeCnt", Count),
        key(StartLifeCnt, "StartLifeCnt", Count),
    };
    return keys;
}

const QStringList &ClientConfig::Resolutions()
{
    static const QStringList entries{QStringLiteral("Full-Screen"), QStringLiteral("640 x 480"),
                                     QStringLiteral("800 x 600"),   QStringLiteral("1024 x 768"),
                                     QStringLiteral("1152 x 864"),  QStringLiteral("1280 x 1024"),
                                     QStringLiteral("1600 x 1024")};
    return entries;
}

bool ClientConfig::IsResolutionIndex(qint32 index)
{
    return index >= -1 && index < Resolutions().size();
}

ClientConfig ClientConfig::Defaults()
{
    ClientConfig defaults;
    for (const Key &key : Keys())
        defaults.setValue(key.key, key.setDefault);
    return defaults;
}

void ClientConfig::Read()
{
    mValues = {};
    qCInfo(lcSettings) << "reading the configuration from" << gClientCfgFile << "and" << gUserCfgFile;
    if (!gClientCfgFile.isEmpty()) {
        QList<modSettings::Setting> settings;
        for (const Key &key : Keys())
            settings.append({key.name, QVariant(0)});
        modSettings::ReadSettings(gClientCfgFile, kClientSection, kText, settings);
        for (qsizetype i = 0; i < settings.size(); ++i) {
            const Key &key = Keys().at(size_t(i));
            const QVariant &value = settings.at(i).second;
            // A key that cannot be read or converted leaves its holder as it was.
            try {
                switch (key.holder) {
                case Holder::Text:
                    setValue(key.key, Conversions::ToText(value));
                    break;
                case Holder::CheckBox:
                    if (const qint16 state = Conversions::ToInt16(value); state >= 0 && state <= 2)
                        setValue(key.key, state);
                    break;
                case Holder::Resolution:
                    if (const qint16 index = Conversions::ToInt16(value); IsResolutionIndex(index))
                        setValue(key.key, index);
                    break;
                case Holder::Count: {
                    double number = 0;
                    if (readsAsNumber(Conversions::ToText(value), number) && number > 0)
                        *countOf(key.key) = Conversions::ToInt32(value);
                    break;
                }
                }
            } catch (const VbError &) {
            }
        }
    }
    if (modSettings::GetRootHandle(gUserCfgFile, true) != 0)
        readUserConfig();
}

void ClientConfig::Write() const
{
    if (gClientCfgFile.isEmpty())
        return;
    qCInfo(lcSettings) << "saving the configuration to" << gClientCfgFile;
    QList<modSettings::Setting> settings;
    for (const Key &key : Keys()) {
        QVariant value;
        switch (key.holder) {
        case Holder::Text:
            value = this->value(key.key).toString();
            break;
        case Holder::CheckBox:
        case Holder::Resolution:
            value = QVariant::fromValue(qint16(this->value(key.key).toInt()));
            break;
        case Holder::Count:
            value = QVariant::fromValue(*countOf(key.key));
            break;
        }
        settings.append({key.name, value});
    }
    modSettings::WriteSettings(gClientCfgFile, kClientSection, kText, settings);
}

void ClientConfig::WriteAutostart(bool on)
{
    qCInfo(lcSettings) << (on ? "writing the autostart entry" : "removing the autostart entry");
    if (on) {
        // The program directory, "/" and the program's file name: what the entry runs.
        const QString command = QCoreApplication::applicationDirPath() + u'/'
                                + QFileInfo(QCoreApplication::applicationFilePath()).fileName();
        RegistryValues::SetRegistryValue(Registry::HKEY_LOCAL_MACHINE, Registry::RunKey, kAutostartValue,
                                         Registry::REG_SZ, command);
    } else {
        RegistryValues::DeleteRegistryValue(Registry::HKEY_LOCAL_MACHINE, Registry::RunKey, kAutostartValue);
    }
}
