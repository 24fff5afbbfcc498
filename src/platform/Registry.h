#pragma once

#include <QString>
#include <QtGlobal>

// The registry store: the registry calls of the program with their call shapes and
// result codes, kept in one file per predefined root.
//
// HKEY_CURRENT_USER lives in the user's configuration directory, the other roots in the
// system's (see StoreFile). The key SOFTWARE\Microsoft\Windows\CurrentVersion\Run of
// HKEY_LOCAL_MACHINE and HKEY_CURRENT_USER is the XDG autostart directory instead
// (/etc/xdg/autostart and ~/.config/autostart): each string value there is the autostart
// entry "<value name>.desktop" whose Exec is the value, so it really starts at login.
//
// Nothing is cached: every call reads the store, every change replaces its file
// atomically. Key paths and value names are compared without regard to case.
namespace Registry {

using HKEY = quint32;
using LONG = qint32;
using DWORD = quint32;

inline constexpr HKEY HKEY_CLASSES_ROOT = 0x80000000u;
inline constexpr HKEY HKEY_CURRENT_USER = 0x80000001u;
inline constexpr HKEY HKEY_LOCAL_MACHINE = 0x80000002u;
inline constexpr HKEY HKEY_USERS = 0x80000003u;
inline constexpr HKEY HKEY_PERFORMANCE_DATA = 0x80000004u; // not kept: ERROR_INVALID_HANDLE
inline constexpr HKEY HKEY_CURRENT_CONFIG = 0x80000005u;
inline constexpr HKEY HKEY_DYN_DATA = 0x80000006u;

inline constexpr DWORD REG_NONE = 0;
inline constexpr DWORD REG_SZ = 1;
inline constexpr DWORD REG_EXPAND_SZ = 2;
inline constexpr DWORD REG_BINARY = 3;
inline constexpr DWORD REG_DWORD = 4;

inline constexpr LONG ERROR_SUCCESS = 0;
inline constexpr LONG ERROR_FILE_NOT_FOUND = 2;
inline constexpr LONG ERROR_ACCESS_DENIED = 5;
inline constexpr LONG ERROR_INVALID_HANDLE = 6;
inline constexpr LONG ERROR_INVALID_DATA = 13;
inline constexpr LONG ERROR_INVALID_PARAMETER = 87;
inline constexpr LONG ERROR_MORE_DATA = 234;
inline constexpr LONG ERROR_BADDB = 1009;             // the store's file is not readable as a store
inline constexpr LONG ERROR_REGISTRY_IO_FAILED = 1016; // the store's file could not be written

inline constexpr DWORD KEY_QUERY_VALUE = 0x0001;
inline constexpr DWORD KEY_SET_VALUE = 0x0002;
inline constexpr DWORD KEY_CREATE_SUB_KEY = 0x0004;
inline constexpr DWORD KEY_ENUMERATE_SUB_KEYS = 0x0008;
inline constexpr DWORD KEY_READ = 0x20019;
inline constexpr DWORD KEY_WRITE = 0x20006;
inline constexpr DWORD KEY_ALL_ACCESS = 0xF003F;
inline constexpr DWORD MAXIMUM_ALLOWED = 0x02000000;

inline constexpr DWORD REG_OPTION_NON_VOLATILE = 0;
inline constexpr DWORD REG_CREATED_NEW_KEY = 1;
inline constexpr DWORD REG_OPENED_EXISTING_KEY = 2;

// The key mapped onto the autostart directory.
inline const QString RunKey = QStringLiteral("SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run");

// Opens an existing key. RegOpenKey asks for everything the caller may have.
LONG RegOpenKeyEx(HKEY key, const QString &subKey, DWORD options, DWORD samDesired, HKEY *result);
LONG RegOpenKey(HKEY key, const QString &subKey, HKEY *result);
// Opens a key, creating it and the keys above it when missing. RegCreateKey asks for
// KEY_ALL_ACCESS. securityAttributes must be null (no security descriptors are kept).
LONG RegCreateKeyEx(HKEY key, const QString &subKey, DWORD reserved, const QString &className, DWORD options,
                    DWORD samDesired, const void *securityAttributes, HKEY *result, DWORD *disposition);
LONG RegCreateKey(HKEY key, const QString &subKey, HKEY *result);
// Win32 shape: with data null only the size (and type) is told; with a buffer smaller than
// the value ERROR_MORE_DATA and the size needed; else the data, its size and its type.
LONG RegQueryValueEx(HKEY key, const QString &valueName, DWORD *reserved, DWORD *type, quint8 *data,
                     DWORD *cbData);
LONG RegSetValueEx(HKEY key, const QString &valueName, DWORD reserved, DWORD type, const quint8 *data,
                   DWORD cbData);
LONG RegDeleteValue(HKEY key, const QString &valueName);
LONG RegFlushKey(HKEY key);
LONG RegCloseKey(HKEY key);

// Handles opened and not yet closed (the predefined roots do not count).
int OpenHandleCount();

// Where the store keeps a root: StoreDirectory(root) + "/" + the root's full name + ".json".
// By default the user's configuration directory + "/veskora/registry" for
// HKEY_CURRENT_USER and "/etc/veskora/registry" for the others. An empty text restores the
// default. Tests redirect both.
void SetStoreDirectory(const QString &directory);
QString StoreFile(HKEY root);
// The autostart directory of HKEY_LOCAL_MACHINE or HKEY_CURRENT_USER; empty restores the
// default.
void SetAutostartDirectory(HKEY root, const QString &directory);
QString AutostartDirectory(HKEY root);

// The Exec value of a desktop entry for the program path, quoted and escaped as the
// freedesktop.org Desktop Entry rules require, and back.
QString DesktopExecForPath(const QString &path);
QString PathFromDesktopExec(const QString &exec);

} // namespace Registry
