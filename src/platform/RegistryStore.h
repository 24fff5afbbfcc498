#pragma once

#include "platform/Registry.h"

#include <QByteArray>
#include <QHash>

namespace Registry {

// A value as kept: its name as first spelled, its type and its bytes.
struct Value
{
    QString name;
    DWORD type = REG_NONE;
    QByteArray data;
};

// The keys and values of one root in its store file (StoreFile), one JSON document:
// {"keys": [{"path", "values": [{"name", "type", "data" (base64)}]}]}. Key paths are joined
// with "\" as first spelled; paths and value names compare without regard to case. The
// root's own key ("") is implied, not kept.
class RegistryStore
{
public:
    explicit RegistryStore(HKEY root) : m_root(root) {}

    // Reads the file: ERROR_SUCCESS (a missing file is an empty store), ERROR_ACCESS_DENIED
    // when it cannot be read, ERROR_BADDB when it holds no store.
    LONG load();
    bool mayWrite() const;
    // Writes the file whole, making its directory when missing: the user's root is private to
    // the user, the others readable by all. ERROR_ACCESS_DENIED when the file may not be
    // written, ERROR_REGISTRY_IO_FAILED when writing failed.
    LONG save() const;

    bool hasKey(const QString &path) const;
    void addKey(const QString &path);
    // Null when the key or the value is missing.
    const Value *value(const QString &path, const QString &name) const;
    // Makes the key when missing; a value keeps the name it was first given.
    void setValue(const QString &path, const QString &name, DWORD type, const QByteArray &data);
    bool removeValue(const QString &path, const QString &name);

private:
    struct Key
    {
        QString path;
        QHash<QString, Value> values; // by folded name
    };

    HKEY m_root;
    QHash<QString, Key> m_keys; // by folded path
};

} // namespace Registry
