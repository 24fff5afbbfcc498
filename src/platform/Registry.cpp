#include "platform/Registry.h"

#include "platform/AutostartEntries.h"
#include "platform/RegistryStore.h"

#include <QHash>
#include <QStringList>

#include <cstring>
#include <memory>

namespace Registry {

namespace {

struct OpenKey
{
    HKEY root;
    QString path; // components joined with "\", as the caller spelled them
    DWORD access;
};

// The handle table. Handles count up from a value no predefined root uses.
struct HandleTable
{
    QHash<HKEY, OpenKey> open;
    HKEY next = 0x1000;
};

HandleTable &handles()
{
    static HandleTable table;
    return table;
}

bool isPredefined(HKEY key)
{
    return key == HKEY_CLASSES_ROOT || key == HKEY_CURRENT_USER || key == HKEY_LOCAL_MACHINE || key == HKEY_USERS
        || key == HKEY_CURRENT_CONFIG || key == HKEY_DYN_DATA;
}

QString joinPath(const QString &base, const QString &subKey)
{
    QStringList parts;
    if (!base.isEmpty())
        parts = base.split(u'\\');
    for (const QString &p : subKey.split(u'\\', Qt::SkipEmptyParts))
        parts << p;
    return parts.join(u'\\');
}

// Where the values of one key live: every key of a root is in the root's store, except the
// Run key, whose values are autostart entries.
class KeyHome
{
public:
    virtual ~KeyHome() = default;
    // ERROR_SUCCESS, or why the home cannot be read.
    virtual LONG exists(bool &exists) = 0;
    virtual bool mayWrite() const = 0;
    // Makes the key and every missing key above it; after exists().
    virtual LONG create() = 0;
    virtual LONG query(const QString &name, Value &value) = 0;
    virtual LONG set(const QString &name, DWORD type, const QByteArray &data) = 0;
    virtual LONG remove(const QString &name) = 0;
};

class StoredKey : public KeyHome
{
public:
    StoredKey(HKEY root, const QString &path) : m_root(root), m_path(path), m_store(root) {}

    LONG exists(bool &exists) override
    {
        const LONG r = m_store.load();
        exists = keyExists(m_path);
        return r;
    }
    bool mayWrite() const override { return m_store.mayWrite(); }
    LONG create() override
    {
        const QStringList parts = m_path.split(u'\\');
        for (qsizetype i = 1; i <= parts.size(); ++i) {
            const QString p = parts.mid(0, i).join(u'\\');
            if (!keyExists(p))
                m_store.addKey(p);
        }
        return m_store.save();
    }
    LONG query(const QString &name, Value &value) override
    {
        if (const LONG r = m_store.load(); r != ERROR_SUCCESS)
            return r;
        const Value *found = m_store.value(m_path, name);
        if (!found)
            return ERROR_FILE_NOT_FOUND;
        value = *found;
        return ERROR_SUCCESS;
    }
    LONG set(const QString &name, DWORD type, const QByteArray &data) override
    {
        if (const LONG r = m_store.load(); r != ERROR_SUCCESS)
            return r;
        m_store.setValue(m_path, name, type, data);
        return m_store.save();
    }
    LONG remove(const QString &name) override
    {
        if (const LONG r = m_store.load(); r != ERROR_SUCCESS)
            return r;
        if (!m_store.removeValue(m_path, name))
            return ERROR_FILE_NOT_FOUND;
        return m_store.save();
    }

private:
    bool keyExists(const QString &path) const
    {
        return path.isEmpty() || Autostart::IsRunKeyOrAbove(m_root, path) || m_store.hasKey(path);
    }

    HKEY m_root;
    QString m_path;
    RegistryStore m_store;
};

class RunKeyEntries : public KeyHome
{
public:
    explicit RunKeyEntries(HKEY root) : m_root(root) {}

    LONG exists(bool &exists) override
    {
        exists = true;
        return ERROR_SUCCESS;
    }
    bool mayWrite() const override { return Autostart::MayWrite(m_root); }
    LONG create() override { return ERROR_SUCCESS; }
    LONG query(const QString &name, Value &value) override
    {
        QString path;
        if (const LONG r = Autostart::Read(m_root, name, path); r != ERROR_SUCCESS)
            return r;
        value = Value{name, REG_SZ, path.toUtf8() + '\0'};
        return ERROR_SUCCESS;
    }
    LONG set(const QString &name, DWORD type, const QByteArray &data) override
    {
        // Only a string naming the program can start at login.
        if (type != REG_SZ && type != REG_EXPAND_SZ)
            return ERROR_INVALID_PARAMETER;
        const qsizetype zero = data.indexOf('\0');
        return Autostart::Write(m_root, name, QString::fromUtf8(zero < 0 ? data : data.left(zero)));
    }
    LONG remove(const QString &name) override { return Autostart::Remove(m_root, name); }

private:
    HKEY m_root;
};

std::unique_ptr<KeyHome> homeOf(HKEY root, const QString &path)
{
    if (Autostart::IsRunKey(root, path))
        return std::make_unique<RunKeyEntries>(root);
    return std::make_unique<StoredKey>(root, path);
}

bool wantsWrite(DWORD sam)
{
    return (sam & (KEY_SET_VALUE | KEY_CREATE_SUB_KEY | 0x0020 /* KEY_CREATE_LINK */ | 0x00010000 /* DELETE */
                   | 0x00040000 /* WRITE_DAC */ | 0x00080000 /* WRITE_OWNER */))
        != 0;
}

bool lookupHandle(HKEY key, OpenKey &out)
{
    if (isPredefined(key)) {
        out = OpenKey{key, QString(), KEY_ALL_ACCESS};
        return true;
    }
    const auto it = handles().open.constFind(key);
    if (it == handles().open.constEnd())
        return false;
    out = *it;
    return true;
}

LONG openKey(HKEY key, const QString &subKey, DWORD sam, bool create, HKEY *result, bool *created)
{
    OpenKey parent;
    if (!lookupHandle(key, parent))
        return ERROR_INVALID_HANDLE;
    const QString path = joinPath(parent.path, subKey);
    const std::unique_ptr<KeyHome> home = homeOf(parent.root, path);
    const bool writable = home->mayWrite();
    if (sam & MAXIMUM_ALLOWED)
        sam = (sam & ~MAXIMUM_ALLOWED) | KEY_READ | (writable ? KEY_ALL_ACCESS : 0);
    bool exists = false;
    if (const LONG r = home->exists(exists); r != ERROR_SUCCESS)
        return r;
    if (!exists && !create)
        return ERROR_FILE_NOT_FOUND;
    if ((wantsWrite(sam) || !exists) && !writable)
        return ERROR_ACCESS_DENIED;
    if (!exists) {
        if (const LONG r = home->create(); r != ERROR_SUCCESS)
            return r;
    }
    if (created)
        *created = !exists;
    HandleTable &t = handles();
    *result = t.next;
    t.next += 4;
    t.open.insert(*result, OpenKey{parent.root, path, sam});
    return ERROR_SUCCESS;
}

} // namespace

LONG RegOpenKeyEx(HKEY key, const QString &subKey, DWORD /*options*/, DWORD samDesired, HKEY *result)
{
    if (!result)
        return ERROR_INVALID_PARAMETER;
    *result = 0;
    return openKey(key, subKey, samDesired, false, result, nullptr);
}

LONG RegOpenKey(HKEY key, const QString &subKey, HKEY *result)
{
    if (!result)
        return ERROR_INVALID_PARAMETER;
    *result = 0;
    if (subKey.isEmpty()) {
        // The same handle comes back, as it always has.
        OpenKey k;
        if (!lookupHandle(key, k))
            return ERROR_INVALID_HANDLE;
        *result = key;
        return ERROR_SUCCESS;
    }
    return openKey(key, subKey, MAXIMUM_ALLOWED, false, result, nullptr);
}

LONG RegCreateKeyEx(HKEY key, const QString &subKey, DWORD reserved, const QString & /*className*/,
                    DWORD /*options*/, DWORD samDesired, const void *securityAttributes, HKEY *result,
                    DWORD *disposition)
{
    if (!result || reserved != 0 || securityAttributes)
        return ERROR_INVALID_PARAMETER;
    *result = 0;
    bool created = false;
    const LONG r = openKey(key, subKey, samDesired, true, result, &created);
    if (r == ERROR_SUCCESS && disposition)
        *disposition = created ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
    return r;
}

LONG RegCreateKey(HKEY key, const QString &subKey, HKEY *result)
{
    return RegCreateKeyEx(key, subKey, 0, QString(), REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr, result,
                          nullptr);
}

LONG RegQueryValueEx(HKEY key, const QString &valueName, DWORD *reserved, DWORD *type, quint8 *data,
                     DWORD *cbData)
{
    OpenKey k;
    if (!lookupHandle(key, k))
        return ERROR_INVALID_HANDLE;
    if (reserved || (data && !cbData))
        return ERROR_INVALID_PARAMETER;
    if (!(k.access & KEY_QUERY_VALUE))
        return ERROR_ACCESS_DENIED;
    Value value;
    if (const LONG r = homeOf(k.root, k.path)->query(valueName, value); r != ERROR_SUCCESS)
        return r;

    const DWORD size = DWORD(value.data.size());
    if (type)
        *type = value.type;
    if (!data) {
        if (cbData)
            *cbData = size;
        return ERROR_SUCCESS;
    }
    if (*cbData < size) {
        *cbData = size;
        return ERROR_MORE_DATA;
    }
    if (size > 0)
        std::memcpy(data, value.data.constData(), size);
    *cbData = size;
    return ERROR_SUCCESS;
}

LONG RegSetValueEx(HKEY key, const QString &valueName, DWORD reserved, DWORD type, const quint8 *data,
                   DWORD cbData)
{
    OpenKey k;
    if (!lookupHandle(key, k))
        return ERROR_INVALID_HANDLE;
    if (reserved != 0 || (!data && cbData > 0))
        return ERROR_INVALID_PARAMETER;
    if (!(k.access & KEY_SET_VALUE))
        return ERROR_ACCESS_DENIED;
    const QByteArray bytes = cbData > 0 ? QByteArray(reinterpret_cast<const char *>(data), qsizetype(cbData))
                                        : QByteArray();
    return homeOf(k.root, k.path)->set(valueName, type, bytes);
}

LONG RegDeleteValue(HKEY key, const QString &valueName)
{
    OpenKey k;
    if (!lookupHandle(key, k))
        return ERROR_INVALID_HANDLE;
    if (!(k.access & KEY_SET_VALUE))
        return ERROR_ACCESS_DENIED;
    return homeOf(k.root, k.path)->remove(valueName);
}

LONG RegFlushKey(HKEY key)
{
    // Every change is already on disk when its call returns.
    OpenKey k;
    return lookupHandle(key, k) ? ERROR_SUCCESS : ERROR_INVALID_HANDLE;
}

LONG RegCloseKey(HKEY key)
{
    if (isPredefined(key))
        return ERROR_SUCCESS;
    return handles().open.remove(key) ? ERROR_SUCCESS : ERROR_INVALID_HANDLE;
}

int OpenHandleCount()
{
    return int(handles().open.size());
}

} // namespace Registry
