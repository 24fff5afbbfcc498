#pragma once

#include <QList>
#include <QString>
#include <QStringList>
#include <QVariant>

#include <array>

// The keys of section "Client", in the order they are written and read.
enum class ClientKey {
    txtServer, txtPort, txtUserName, txtPassword, chkUserPass, cboResolution,
    chkDISABLE_WALLPAPER, chkDISABLE_FULLWINDOWDRAG, chkDISABLE_MENUANIMATIONS, chkDISABLE_THEMING,
    chkENABLE_ENHANCED_GRAPHICS, chkDISABLE_CURSOR_SHADOW, chkDISABLE_CURSORSETTINGS,
    chkRedirectDrives, chkRedirectPorts, chkRedirectPrinters, chkRedirectSmartCards,
    chkBitmap, chkCompress, chkDisplayConnectionBar, chkEnableAutoReconnect,
    AutoConnect, StartConnectLifeCnt, StartLifeCnt,
};
inline constexpr int ClientKeyCount = int(ClientKey::StartLifeCnt) + 1;

// The panel's connection settings in Client.cfg (section "Client"), key by key as the main
// window's controls hold them, and the three values of User.cfg (section "UserConfig") that
// the side-link supervisor uses. Each key of section "Client" is named after its control, but
// "AutoConnect" (the box "Connect to Server") and the two counts, which are globals.
class ClientConfig
{
public:
    // What holds a key's value: a text field (text), a check box (0 cleared, 1 checked,
    // 2 grayed), the resolution list (an index, -1 none) or a global count.
    enum class Holder { Text, CheckBox, Resolution, Count };
    // A key: its name in the file, the control that holds it (none for a count), the kind
    // of its holder, and what "Set Default" puts into it (null: nothing).
    struct Key
    {
        ClientKey key;
        QString name;
        QString control;
        Holder holder;
        QVariant setDefault;
    };

    // The 24 keys of section "Client", in the order they are written and read: the one table
    // of them, for loading, saving, the window and the connection.
    static const std::array<Key, ClientKeyCount> &Keys();
    static const Key &KeyOf(ClientKey key) { return Keys().at(size_t(key)); }
    // The entries of the resolution list; a resolution is stored as an index into it.
    static const QStringList &Resolutions();
    // An entry of the resolution list, or none (-1).
    static bool IsResolutionIndex(qint32 index);
    // What "Set Default" puts into the window: every key but the two counts.
    static ClientConfig Defaults();

    // The value of a text field, a check box or the resolution; null when the configuration
    // has none for the key. The counts are the globals gStartConnectLifeCnt and gStartLifeCnt.
    QVariant value(ClientKey key) const { return mValues.at(size_t(key)); }
    void setValue(ClientKey key, const QVariant &value) { mValues.at(size_t(key)) = value; }

    // Takes from gClientCfgFile each key whose value its holder may take, and no other: a key
    // that cannot be read or converted has no value afterwards, a count goes to its global
    // only when it reads as a number above 0. Then the values of gUserCfgFile, when the file
    // exists, into their globals. Nothing is reported.
    void Read();
    // Writes all 24 keys into gClientCfgFile in one replacement of the file; other keys of the
    // file stay as they are.
    void Write() const;
    // Sets the autostart entry of the program, or removes it. Nothing is reported.
    static void WriteAutostart(bool on);

private:
    std::array<QVariant, ClientKeyCount> mValues;
};
