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

qint32 *countOf(const QString &key)
{
    return key == u"StartConnectLifeCnt" ? &gStartConnectLifeCnt : &gStartLifeCnt;
}

QVariant readClient(const QString &key)
{
    QVariant value;
    modSettings::ReadSetting(gClientCfgFile, kClientSection, key, kText, QVariant(0), value);
    return value;
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

const QList<ClientConfig::Key> &ClientConfig::Keys()
{
    static const QList<Key> keys = [] {
        QList<Key> k;
        for (const char *name : {"txtServer", "txtPort", "txtUserName", "txtPassword"})
            k.append({QLatin1String(name), Holder::Text});
        k.append({QStringLiteral("chkUserPass"), Holder::CheckBox});
        k.append({QStringLiteral("cboResolution"), Holder::Resolution});
        for (const char *name : {"chkDISABLE_WALLPAPER", "chkDISABLE_FULLWINDOWDRAG", "chkDISABLE_MENUANIMATIONS",
                                 "chkDISABLE_THEMING", "chkENABLE_ENHANCED_GRAPHICS", "chkDISABLE_CURSOR_SHADOW",
                                 "chkDISABLE_CURSORSETTINGS", "chkRedirectDrives", "chkRedirectPorts",
                                 "chkRedirectPrinters", "chkRedirectSmartCards", "chkBitmap", "chkCompress",
                                 "chkDisplayConnectionBar", "chkEnableAutoReconnect", "AutoConnect"})
            k.append({QLatin1String(name), Holder::CheckBox});
        for (const char *name : {"StartConnectLifeCnt", "StartLifeCnt"})
            k.append({QLatin1String(name), Holder::Count});
        return k;
    }();
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
        if (key.holder == Holder::CheckBox)
            defaults.setValue(key.name, 0);
    defaults.setValue(QStringLiteral("txtServer"), QStringLiteral("SERVERNAME"));
    defaults.setValue(QStringLiteral("txtPort"), QStringLiteral("12559"));
    defaults.setValue(QStringLiteral("txtUserName"), QStringLiteral("Username"));
    // A placeholder, for the operator to overwrite.
    defaults.setValue(QStringLiteral("txtPassword"), QStringLiteral("Password"));
    defaults.setValue(QStringLiteral("chkUserPass"), 1);
    defaults.setValue(QStringLiteral("cboResolution"), 0);
    return defaults;
}

void ClientConfig::Read()
{
    mValues.clear();
    qCInfo(lcSettings) << "reading the configuration from" << gClientCfgFile << "and" << gUserCfgFile;
    if (!gClientCfgFile.isEmpty()) {
        for (const Key &key : Keys()) {
            // A key that cannot be read or converted leaves its holder as it was.
            try {
                const QVariant value = readClient(key.name);
                switch (key.holder) {
                case Holder::Text:
                    setValue(key.name, Conversions::ToText(value));
                    break;
                case Holder::CheckBox:
                    if (const qint16 state = Conversions::ToInt16(value); state >= 0 && state <= 2)
                        setValue(key.name, state);
                    break;
                case Holder::Resolution:
                    if (const qint16 index = Conversions::ToInt16(value); IsResolutionIndex(index))
                        setValue(key.name, index);
                    break;
                case Holder::Count: {
                    double number = 0;
                    if (readsAsNumber(Conversions::ToText(value), number) && number > 0)
                        *countOf(key.name) = Conversions::ToInt32(value);
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
            value = this->value(key.name).toString();
            break;
        case Holder::CheckBox:
        case Holder::Resolution:
            value = QVariant::fromValue(qint16(this->value(key.name).toInt()));
            break;
        case Holder::Count:
            value = QVariant::fromValue(*countOf(key.name));
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
