#pragma once

#include <QList>
#include <QString>
#include <QVariant>
#include <QtGlobal>

#include <utility>

// One pair of calls for the settings files. The root is the path of an INI file, or a
// registry root name ("HKCU", "HKLM", "HKU", "HKDD", "HKCC", "HKCR", any case), with which
// nothing is done: no caller keeps its settings in the registry. The type letter is "S" text,
// "B" Boolean or "D" 32-bit number (read as an integer; only text is written). Returns 0 or
// 99 (nothing done).
namespace modSettings {

inline constexpr qint32 StatusNothingDone = 99;

qint32 ReadSetting(const QString &root, const QString &section, const QString &key, const QString &type,
                   const QVariant &defaultValue, QVariant &value);
// Reads the keys of one section as ReadSetting reads each, the file read once: each setting
// holds its key's default going in and its value coming out.
using Setting = std::pair<QString, QVariant>;
qint32 ReadSettings(const QString &root, const QString &section, const QString &type, QList<Setting> &settings);
qint32 WriteSetting(const QString &root, const QString &section, const QString &key, const QString &type,
                    const QVariant &value);
// Writes the keys of one section as WriteSetting writes each; in an INI file in one read and
// one replacement of the file, so that all keys change together or none. The status of the
// last key that failed, else 0.
qint32 WriteSettings(const QString &root, const QString &section, const QString &type, const QList<Setting> &settings);
// The predefined key handle, 1 for an INI file, 0 when mustExist and there is no such file.
quint32 GetRootHandle(const QString &root, bool mustExist);

} // namespace modSettings
