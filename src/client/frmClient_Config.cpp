#include "client/frmClient.h"

#include "platform/Conversions.h"
#include "platform/Registry.h"
#include "platform/VbError.h"
#include "serverlink/SocketControl.h"
#include "settings/RegistryValues.h"
#include "settings/modGlobClientVar.h"
#include "settings/modSettings.h"
#include "shell/frmClientTrayIcon.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QFileInfo>
#include <QLineEdit>
#include <QMetaObject>
#include <QTimer>

using namespace modGlobClientVar;

namespace {

const QString kClientSection = QStringLiteral("Client");
const QString kUserSection = QStringLiteral("UserConfig");
const QString kText = QStringLiteral("S");
const QString kAutostartValue = QStringLiteral("ClientStart");
// The placeholder "Set Default" puts into the password field.
const QString kPlaceholderPassword = QStringLiteral("Password");

enum class Holder { Text, CheckBox, Resolution, Global };

struct Entry
{
    QString key;
    Holder holder;
    QLineEdit *text = nullptr;
    CheckBox *box = nullptr;
    qint32 *global = nullptr;
};

// The keys of section "Client" in the order they are written and read.
QList<Entry> clientKeys(frmClient &f)
{
    auto text = [](const char *key, QLineEdit *field) {
        return Entry{QString::fromLatin1(key), Holder::Text, field, nullptr, nullptr};
    };
    auto box = [](const char *key, CheckBox *b) { return Entry{QString::fromLatin1(key), Holder::CheckBox, nullptr, b, nullptr}; };
    auto global = [](const char *key, qint32 *g) { return Entry{QString::fromLatin1(key), Holder::Global, nullptr, nullptr, g}; };
    return {
        text("txtServer", f.txtServer),
        text("txtPort", f.txtPort),
        text("txtUserName", f.txtUserName),
        text("txtPassword", f.txtPassword),
        box("chkUserPass", f.chkUserPass),
        Entry{QStringLiteral("cboResolution"), Holder::Resolution, nullptr, nullptr, nullptr},
        box("chkDISABLE_WALLPAPER", f.chkDISABLE_WALLPAPER),
        box("chkDISABLE_FULLWINDOWDRAG", f.chkDISABLE_FULLWINDOWDRAG),
        box("chkDISABLE_MENUANIMATIONS", f.chkDISABLE_MENUANIMATIONS),
        box("chkDISABLE_THEMING", f.chkDISABLE_THEMING),
        box("chkENABLE_ENHANCED_GRAPHICS", f.chkENABLE_ENHANCED_GRAPHICS),
        box("chkDISABLE_CURSOR_SHADOW", f.chkDISABLE_CURSOR_SHADOW),
        box("chkDISABLE_CURSORSETTINGS", f.chkDISABLE_CURSORSETTINGS),
        box("chkRedirectDrives", f.chkRedirectDrives),
        box("chkRedirectPorts", f.chkRedirectPorts),
        box("chkRedirectPrinters", f.chkRedirectPrinters),
        box("chkRedirectSmartCards", f.chkRedirectSmartCards),
        box("chkBitmap", f.chkBitmap),
        box("chkCompress", f.chkCompress),
        box("chkDisplayConnectionBar", f.chkDisplayConnectionBar),
        box("chkEnableAutoReconnect", f.chkEnableAutoReconnect),
        box("AutoConnect", f.chkAutoConnect),
        global("StartConnectLifeCnt", &gStartConnectLifeCnt),
        global("StartLifeCnt", &gStartLifeCnt),
    };
}

// A text that reads as a number, and that number.
bool readsAsNumber(const QString &text, double &number)
{
    if (!Conversions::IsNumeric(text))
        return false;
    number = Conversions::ToDouble(text);
    return true;
}

// The program directory, "/" and the program's file name: what the autostart entry runs.
QString autostartCommand()
{
    return QCoreApplication::applicationDirPath() + u'/' + QFileInfo(QCoreApplication::applicationFilePath()).fileName();
}

} // namespace

void frmClient::ReadConfigurationFromFile()
{
    if (!gClientCfgFile.isEmpty()) {
        for (const Entry &e : clientKeys(*this)) {
            // A key that cannot be read, converted or assigned leaves its holder as it was.
            try {
                QVariant value;
                modSettings::ReadSetting(gClientCfgFile, kClientSection, e.key, kText, QVariant(0), value);
                const QString text = Conversions::ToText(value);
                switch (e.holder) {
                case Holder::Text:
                    e.text->setText(text);
                    break;
                case Holder::CheckBox: {
                    const qint16 state = Conversions::ToInt16(value);
                    if (state >= 0 && state <= 2)
                        e.box->setValue(state);
                    break;
                }
                case Holder::Resolution: {
                    const qint16 index = Conversions::ToInt16(value);
                    if (index >= -1 && index < cboResolution->count())
                        cboResolution->setCurrentIndex(index);
                    break;
                }
                case Holder::Global: {
                    double number = 0;
                    if (readsAsNumber(text, number) && number > 0)
                        *e.global = Conversions::ToInt32(value);
                    break;
                }
                }
            } catch (const VbError &) {
            }
        }
    }

    if (modSettings::GetRootHandle(gUserCfgFile, true) == 0)
        return;

    try {
        QVariant value;
        modSettings::ReadSetting(gUserCfgFile, kUserSection, QStringLiteral("UserProcessName"), kText, QVariant(0), value);
        const QString text = Conversions::ToText(value);
        double number = 0;
        if (!readsAsNumber(text, number) || number > 0)
            gUserProcessName = text;
    } catch (const VbError &) {
    }

    try {
        QVariant value;
        modSettings::ReadSetting(gUserCfgFile, kUserSection, QStringLiteral("MaxTryConnectActionCnt"), kText,
                                 QString(), value);
        if (!Conversions::ToText(value).isEmpty())
            gMaxTryConnectActionCnt = Conversions::ToInt32(value);
    } catch (const VbError &) {
    }

    QVariant value;
    modSettings::ReadSetting(gUserCfgFile, kUserSection, QStringLiteral("TryConnectActionCnt"), kText, QString(),
                             value);
    if (!Conversions::ToText(value).isEmpty()) {
        try {
            gTryConnectActionCnt = Conversions::ToInt32(value);
        } catch (const VbError &) {
        }
        if (gMaxTryConnectActionCnt < gTryConnectActionCnt)
            gTryConnectActionCnt = gMaxTryConnectActionCnt;
    }
}

void frmClient::WriteConfigurationToFile()
{
    if (gClientCfgFile.isEmpty())
        return;
    for (const Entry &e : clientKeys(*this)) {
        QVariant value;
        switch (e.holder) {
        case Holder::Text:
            value = e.text->text();
            break;
        case Holder::CheckBox:
            value = QVariant::fromValue(qint16(e.box->Value()));
            break;
        case Holder::Resolution:
            value = QVariant::fromValue(qint16(cboResolution->currentIndex()));
            break;
        case Holder::Global:
            value = QVariant::fromValue(*e.global);
            break;
        }
        modSettings::WriteSetting(gClientCfgFile, kClientSection, e.key, kText, value);
    }
}

void frmClient::cmdSave_Click()
{
    WriteConfigurationToFile();

    if (chkAutoConnect->Value() == 1)
        RegistryValues::SetRegistryValue(Registry::HKEY_LOCAL_MACHINE, Registry::RunKey, kAutostartValue,
                                         Registry::REG_SZ, autostartCommand());
    else
        RegistryValues::DeleteRegistryValue(Registry::HKEY_LOCAL_MACHINE, Registry::RunKey, kAutostartValue);

    timControl->stop();

    if (chkAutoConnect->Value() == 0 && Winsock->State() != SocketControl::sckClosed) {
        Winsock->Close();
        setPanelText(1, QStringLiteral("Not connected"));
    }

    // The reload destroys this window, whose button is still delivering the click: it
    // runs as soon as the click has been handled.
    if (frmClientTrayIcon *tray = frmClientTrayIcon::Instance())
        QMetaObject::invokeMethod(tray, &frmClientTrayIcon::RefreshMainForm, Qt::QueuedConnection);
}

void frmClient::cmdSetDefault_Click()
{
    chkAutoConnect->setValue(0);
    txtServer->setText(QStringLiteral("SERVERNAME"));
    txtPort->setText(QStringLiteral("12559"));
    txtUserName->setText(QStringLiteral("Username"));
    txtPassword->setText(kPlaceholderPassword);
    chkUserPass->setValue(1);
    cboResolution->setCurrentIndex(0);
    for (CheckBox *box : {chkDISABLE_WALLPAPER, chkDISABLE_FULLWINDOWDRAG, chkDISABLE_MENUANIMATIONS, chkDISABLE_THEMING,
                          chkENABLE_ENHANCED_GRAPHICS, chkDISABLE_CURSOR_SHADOW, chkDISABLE_CURSORSETTINGS,
                          chkRedirectDrives, chkRedirectPorts, chkRedirectPrinters, chkRedirectSmartCards, chkBitmap,
                          chkCompress, chkDisplayConnectionBar, chkEnableAutoReconnect})
        box->setValue(0);
}
