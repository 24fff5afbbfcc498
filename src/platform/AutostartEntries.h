#pragma once

#include "platform/Registry.h"

// The Run key of HKEY_LOCAL_MACHINE and HKEY_CURRENT_USER as an XDG autostart directory
// (AutostartDirectory): a value is the entry "<value name>.desktop" whose Exec starts the
// program path the value holds. Value names compare without regard to case.
namespace Registry::Autostart {

bool IsRunKey(HKEY root, const QString &path);
// The Run key and the keys above it always exist, as on every installed system.
bool IsRunKeyOrAbove(HKEY root, const QString &path);
// Whether entries may be added and removed: the autostart directory may be written.
bool MayWrite(HKEY root);

// The program path of an entry; ERROR_FILE_NOT_FOUND when there is none.
LONG Read(HKEY root, const QString &name, QString &path);
// ERROR_INVALID_PARAMETER for a name that is no file name of the directory or an empty path.
LONG Write(HKEY root, const QString &name, const QString &path);
LONG Remove(HKEY root, const QString &name);

} // namespace Registry::Autostart
