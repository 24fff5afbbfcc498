#pragma once

#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>
#include <QVariant>

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
    struct Key
    {
        QString name;
        Holder holder;
    };

    // The 24 keys of section "Client", in the order they are written and read.
    static const QList<Key> &Keys();
    // The entries of the resolution list; a resolution is stored as an index into it.
    static const QStringList &Resolutions();
    // An entry of the resolution list, or none (-1).
    static bool IsResolutionIndex(qint32 index);
    // What "Set Default" puts into the window: every key but the two counts.
    static ClientConfig Defaults();

    // The value of a text field, a check box or the resolution; null when the configuration
    // has none for the key. The counts are the globals gStartConnectLifeCnt and gStartLifeCnt.
    QVariant value(const QString &key) const { return mValues.value(key); }
    void setValue(const QString &key, const QVariant &value) { mValues.insert(key, value); }

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
    QHash<QString, QVariant> mValues;
};
