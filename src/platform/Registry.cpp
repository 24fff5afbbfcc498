#include "platform/Registry.h"

#include "platform/IniFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStandardPaths>
#include <QStringList>

#include <cerrno>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

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

QString &storeDirectoryOverride()
{
    static QString dir;
    return dir;
}

QString &autostartOverride(HKEY root)
{
    static QString machine, user;
    return root == HKEY_LOCAL_MACHINE ? machine : user;
}

bool isPredefined(HKEY key)
{
    return key == HKEY_CLASSES_ROOT || key == HKEY_CURRENT_USER || key == HKEY_LOCAL_MACHINE || key == HKEY_USERS
        || key == HKEY_CURRENT_CONFIG || key == HKEY_DYN_DATA;
}

QString rootName(HKEY root)
{
    switch (root) {
    case HKEY_CLASSES_ROOT: return QStringLiteral("HKEY_CLASSES_ROOT");
    case HKEY_CURRENT_USER: return QStringLiteral("HKEY_CURRENT_USER");
    case HKEY_LOCAL_MACHINE: return QStringLiteral("HKEY_LOCAL_MACHINE");
    case HKEY_USERS: return QStringLiteral("HKEY_USERS");
    case HKEY_CURRENT_CONFIG: return QStringLiteral("HKEY_CURRENT_CONFIG");
    default: return QStringLiteral("HKEY_DYN_DATA");
    }
}

bool isUserRoot(HKEY root)
{
    return root == HKEY_CURRENT_USER;
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

QString folded(const QString &path)
{
    return path.toCaseFolded();
}

bool hasAutostart(HKEY root)
{
    return root == HKEY_LOCAL_MACHINE || root == HKEY_CURRENT_USER;
}

bool isRunKey(HKEY root, const QString &path)
{
    return hasAutostart(root) && path.compare(RunKey, Qt::CaseInsensitive) == 0;
}

// The keys above the Run key always exist, as they do on every installed system.
bool isAboveRunKey(HKEY root, const QString &path)
{
    return hasAutostart(root) && folded(RunKey).startsWith(folded(path) + u'\\');
}

LONG resolve(HKEY key, const QString &subKey, HKEY &root, QString &path)
{
    if (isPredefined(key)) {
        root = key;
        path = joinPath(QString(), subKey);
        return ERROR_SUCCESS;
    }
    const auto it = handles().open.constFind(key);
    if (it == handles().open.constEnd())
        return ERROR_INVALID_HANDLE;
    root = it->root;
    path = joinPath(it->path, subKey);
    return ERROR_SUCCESS;
}

// --- writability: a path marked read-only (no write bit) stays so even for root

bool writableByMode(const QString &path)
{
    const QByteArray p = QFile::encodeName(path);
    struct stat st{};
    if (::stat(p.constData(), &st) != 0)
        return false;
    return (st.st_mode & 0222) != 0 && ::access(p.constData(), W_OK) == 0;
}

// A directory that exists and may be written, or that could be created below the
// nearest existing directory above it.
bool directoryWritable(const QString &directory)
{
    QString dir = QDir::cleanPath(QDir(directory).absolutePath());
    for (;;) {
        const QFileInfo info(dir);
        if (info.exists())
            return info.isDir() && writableByMode(dir);
        const QString parent = info.path();
        if (parent == dir)
            return false;
        dir = parent;
    }
}

bool fileWritable(const QString &file)
{
    const QFileInfo info(file);
    if (info.exists())
        return info.isFile() && writableByMode(file) && directoryWritable(info.path());
    return directoryWritable(info.path());
}

bool makeDirectory(const QString &directory, bool privateDir)
{
    if (QFileInfo(directory).isDir())
        return true;
    if (!QDir().mkpath(directory))
        return false;
    QFile::setPermissions(directory, privateDir ? (QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner)
                                                : (QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner
                                                   | QFile::ReadGroup | QFile::ExeGroup | QFile::ReadOther
                                                   | QFile::ExeOther));
    return true;
}

// --- the store of one root

struct Value
{
    QString name;
    DWORD type = REG_NONE;
    QByteArray data;
};

struct Key
{
    QString name;
    QHash<QString, Value> values; // by folded name
};

struct Store
{
    QHash<QString, Key> keys; // by folded path; the root key "" is implied
};

LONG loadStore(HKEY root, Store &store)
{
    store = Store();
    const QString fileName = StoreFile(root);
    QFile file(fileName);
    if (!file.exists())
        return ERROR_SUCCESS;
    if (!file.open(QIODevice::ReadOnly))
        return ERROR_ACCESS_DENIED;
    QJsonParseError error{};
    const QJsonDocument doc = QJsonDocument::fromJson(file.readAll(), &error);
    if (error.error != QJsonParseError::NoError || !doc.isObject())
        return ERROR_BADDB;
    const QJsonArray keys = doc.object().value(QStringLiteral("keys")).toArray();
    for (const QJsonValue &k : keys) {
        const QJsonObject ko = k.toObject();
        Key key;
        key.name = ko.value(QStringLiteral("path")).toString();
        for (const QJsonValue &v : ko.value(QStringLiteral("values")).toArray()) {
            const QJsonObject vo = v.toObject();
            Value value;
            value.name = vo.value(QStringLiteral("name")).toString();
            value.type = DWORD(vo.value(QStringLiteral("type")).toInteger());
            value.data = QByteArray::fromBase64(vo.value(QStringLiteral("data")).toString().toLatin1());
            key.values.insert(folded(value.name), value);
        }
        store.keys.insert(folded(key.name), key);
    }
    return ERROR_SUCCESS;
}

LONG saveStore(HKEY root, const Store &store)
{
    const QString fileName = StoreFile(root);
    if (!fileWritable(fileName))
        return ERROR_ACCESS_DENIED;
    QStringList paths = store.keys.keys();
    paths.sort();
    QJsonArray keys;
    for (const QString &p : paths) {
        const Key &key = store.keys.value(p);
        QStringList names = key.values.keys();
        names.sort();
        QJsonArray values;
        for (const QString &n : names) {
            const Value &v = key.values.value(n);
            values.append(QJsonObject{{QStringLiteral("name"), v.name},
                                      {QStringLiteral("type"), qint64(v.type)},
                                      {QStringLiteral("data"), QString::fromLatin1(v.data.toBase64())}});
        }
        keys.append(QJsonObject{{QStringLiteral("path"), key.name}, {QStringLiteral("values"), values}});
    }
    const QByteArray json = QJsonDocument(QJsonObject{{QStringLiteral("keys"), keys}}).toJson();
    const bool user = isUserRoot(root);
    if (!makeDirectory(QFileInfo(fileName).path(), user)
        || !IniFile::WriteWholeFile(fileName, json, user ? 0600 : 0644))
        return ERROR_REGISTRY_IO_FAILED;
    return ERROR_SUCCESS;
}

bool keyExists(HKEY root, const QString &path, const Store &store)
{
    return path.isEmpty() || isRunKey(root, path) || isAboveRunKey(root, path) || store.keys.contains(folded(path));
}

// --- the Run key as autostart entries

// A value name must stay one file name inside the autostart directory.
bool validEntryName(const QString &name)
{
    return !name.isEmpty() && name != u"." && name != u".." && !name.contains(u'/') && !name.contains(QChar(0));
}

// The existing entry file of a value name (names compare without regard to case), or
// the file name a new entry gets.
QString entryFile(HKEY root, const QString &name, bool *exists = nullptr)
{
    const QString dir = AutostartDirectory(root);
    const QString wanted = name + QStringLiteral(".desktop");
    if (exists)
        *exists = false;
    if (QFileInfo(dir + u'/' + wanted).isFile()) {
        if (exists)
            *exists = true;
        return dir + u'/' + wanted;
    }
    const QStringList files = QDir(dir).entryList({QStringLiteral("*.desktop")}, QDir::Files | QDir::Hidden);
    for (const QString &f : files) {
        if (f.compare(wanted, Qt::CaseInsensitive) == 0) {
            if (exists)
                *exists = true;
            return dir + u'/' + f;
        }
    }
    return dir + u'/' + wanted;
}

QString escapeString(const QString &text)
{
    QString out;
    for (const QChar c : text) {
        switch (c.unicode()) {
        case u'\\': out += QStringLiteral("\\\\"); break;
        case u'\n': out += QStringLiteral("\\n"); break;
        case u'\t': out += QStringLiteral("\\t"); break;
        case u'\r': out += QStringLiteral("\\r"); break;
        default: out += c;
        }
    }
    if (out.startsWith(u' '))
        out.replace(0, 1, QStringLiteral("\\s"));
    return out;
}

QString unescapeString(const QString &text)
{
    QString out;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (c == u'\\' && i + 1 < text.size()) {
            const QChar n = text.at(++i);
            switch (n.unicode()) {
            case u's': out += u' '; break;
            case u'n': out += u'\n'; break;
            case u't': out += u'\t'; break;
            case u'r': out += u'\r'; break;
            case u'\\': out += u'\\'; break;
            default: out += c; out += n;
            }
        } else {
            out += c;
        }
    }
    return out;
}

bool readEntryExec(const QString &file, QString &exec)
{
    QFile f(file);
    if (!f.open(QIODevice::ReadOnly))
        return false;
    const QStringList lines = QString::fromUtf8(f.readAll()).split(u'\n');
    bool inEntry = false;
    for (QString line : lines) {
        line = line.trimmed();
        if (line.startsWith(u'[')) {
            inEntry = line == u"[Desktop Entry]";
            continue;
        }
        if (!inEntry || line.startsWith(u'#'))
            continue;
        const qsizetype eq = line.indexOf(u'=');
        if (eq > 0 && line.left(eq).trimmed() == u"Exec") {
            exec = PathFromDesktopExec(unescapeString(line.mid(eq + 1).trimmed()));
            return true;
        }
    }
    exec.clear();
    return true;
}

QByteArray entryText(const QString &name, const QString &path)
{
    QString text = QStringLiteral("[Desktop Entry]\n"
                                  "Type=Application\n");
    text += QStringLiteral("Name=") + escapeString(name) + u'\n';
    text += QStringLiteral("Exec=") + escapeString(DesktopExecForPath(path)) + u'\n';
    return text.toUtf8();
}

LONG removeError()
{
    return (errno == EACCES || errno == EPERM || errno == EROFS) ? ERROR_ACCESS_DENIED : ERROR_REGISTRY_IO_FAILED;
}

DWORD grantable(HKEY root, const QString &path)
{
    const bool writable = isRunKey(root, path) ? directoryWritable(AutostartDirectory(root))
                                               : fileWritable(StoreFile(root));
    return KEY_READ | (writable ? KEY_ALL_ACCESS : 0);
}

bool wantsWrite(DWORD sam)
{
    return (sam & (KEY_SET_VALUE | KEY_CREATE_SUB_KEY | 0x0020 /* KEY_CREATE_LINK */ | 0x00010000 /* DELETE */
                   | 0x00040000 /* WRITE_DAC */ | 0x00080000 /* WRITE_OWNER */))
        != 0;
}

HKEY newHandle(HKEY root, const QString &path, DWORD access)
{
    HandleTable &t = handles();
    const HKEY h = t.next;
    t.next += 4;
    t.open.insert(h, OpenKey{root, path, access});
    return h;
}

LONG openExisting(HKEY key, const QString &subKey, DWORD sam, HKEY *result, bool *created, bool create)
{
    HKEY root = 0;
    QString path;
    if (const LONG r = resolve(key, subKey, root, path); r != ERROR_SUCCESS)
        return r;
    if (sam & MAXIMUM_ALLOWED)
        sam = (sam & ~MAXIMUM_ALLOWED) | grantable(root, path);
    Store store;
    if (!isRunKey(root, path)) {
        if (const LONG r = loadStore(root, store); r != ERROR_SUCCESS)
            return r;
    }
    const bool exists = keyExists(root, path, store);
    if (!exists && !create)
        return ERROR_FILE_NOT_FOUND;
    if ((wantsWrite(sam) || !exists) && !(grantable(root, path) & KEY_SET_VALUE))
        return ERROR_ACCESS_DENIED;
    if (!exists) {
        // Create the key and every missing key above it.
        const QStringList parts = path.split(u'\\');
        for (qsizetype i = 1; i <= parts.size(); ++i) {
            const QString p = parts.mid(0, i).join(u'\\');
            if (!keyExists(root, p, store))
                store.keys.insert(folded(p), Key{p, {}});
        }
        if (const LONG r = saveStore(root, store); r != ERROR_SUCCESS)
            return r;
    }
    if (created)
        *created = !exists;
    *result = newHandle(root, path, sam);
    return ERROR_SUCCESS;
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

} // namespace

LONG RegOpenKeyEx(HKEY key, const QString &subKey, DWORD options, DWORD samDesired, HKEY *result)
{
    Q_UNUSED(options);
    if (!result)
        return ERROR_INVALID_PARAMETER;
    *result = 0;
    return openExisting(key, subKey, samDesired, result, nullptr, false);
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
    return openExisting(key, subKey, MAXIMUM_ALLOWED, result, nullptr, false);
}

LONG RegCreateKeyEx(HKEY key, const QString &subKey, DWORD reserved, const QString &className, DWORD options,
                    DWORD samDesired, const void *securityAttributes, HKEY *result, DWORD *disposition)
{
    Q_UNUSED(className);
    Q_UNUSED(options);
    if (!result || reserved != 0 || securityAttributes)
        return ERROR_INVALID_PARAMETER;
    *result = 0;
    bool created = false;
    const LONG r = openExisting(key, subKey, samDesired, result, &created, true);
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
    if (isRunKey(k.root, k.path)) {
        bool exists = false;
        const QString file = entryFile(k.root, valueName, &exists);
        QString exec;
        if (!validEntryName(valueName) || !exists || !readEntryExec(file, exec))
            return ERROR_FILE_NOT_FOUND;
        value.type = REG_SZ;
        value.data = exec.toUtf8() + '\0';
    } else {
        Store store;
        if (const LONG r = loadStore(k.root, store); r != ERROR_SUCCESS)
            return r;
        const auto it = store.keys.constFind(folded(k.path));
        const bool found = it != store.keys.constEnd() && it->values.contains(folded(valueName));
        if (!found)
            return ERROR_FILE_NOT_FOUND;
        value = it->values.value(folded(valueName));
    }

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

    if (isRunKey(k.root, k.path)) {
        // Only a command can start at login: a non-empty string naming the program.
        if (!validEntryName(valueName) || (type != REG_SZ && type != REG_EXPAND_SZ))
            return ERROR_INVALID_PARAMETER;
        const qsizetype zero = bytes.indexOf('\0');
        const QString path = QString::fromUtf8(zero < 0 ? bytes : bytes.left(zero));
        if (path.isEmpty())
            return ERROR_INVALID_PARAMETER;
        const QString dir = AutostartDirectory(k.root);
        if (!directoryWritable(dir))
            return ERROR_ACCESS_DENIED;
        const QString file = entryFile(k.root, valueName);
        if (!makeDirectory(dir, false))
            return ERROR_ACCESS_DENIED;
        if (QFileInfo::exists(file) && !writableByMode(file))
            return ERROR_ACCESS_DENIED;
        if (!IniFile::WriteWholeFile(file, entryText(valueName, path), 0644))
            return ERROR_REGISTRY_IO_FAILED;
        return ERROR_SUCCESS;
    }

    Store store;
    if (const LONG r = loadStore(k.root, store); r != ERROR_SUCCESS)
        return r;
    const QString fk = folded(k.path);
    if (!store.keys.contains(fk))
        store.keys.insert(fk, Key{k.path, {}}); // a key above the Run key, or the root
    Key &target = store.keys[fk];
    const QString fv = folded(valueName);
    Value value;
    value.name = target.values.contains(fv) ? target.values.value(fv).name : valueName;
    value.type = type;
    value.data = bytes;
    target.values.insert(fv, value);
    return saveStore(k.root, store);
}

LONG RegDeleteValue(HKEY key, const QString &valueName)
{
    OpenKey k;
    if (!lookupHandle(key, k))
        return ERROR_INVALID_HANDLE;
    if (!(k.access & KEY_SET_VALUE))
        return ERROR_ACCESS_DENIED;

    if (isRunKey(k.root, k.path)) {
        bool exists = false;
        const QString file = entryFile(k.root, valueName, &exists);
        if (!validEntryName(valueName) || !exists)
            return ERROR_FILE_NOT_FOUND;
        if (!directoryWritable(AutostartDirectory(k.root)))
            return ERROR_ACCESS_DENIED;
        if (::unlink(QFile::encodeName(file).constData()) != 0)
            return removeError();
        return ERROR_SUCCESS;
    }

    Store store;
    if (const LONG r = loadStore(k.root, store); r != ERROR_SUCCESS)
        return r;
    const auto it = store.keys.find(folded(k.path));
    if (it == store.keys.end() || !it->values.contains(folded(valueName)))
        return ERROR_FILE_NOT_FOUND;
    it->values.remove(folded(valueName));
    return saveStore(k.root, store);
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

void SetStoreDirectory(const QString &directory)
{
    storeDirectoryOverride() = directory;
}

QString StoreFile(HKEY root)
{
    QString dir = storeDirectoryOverride();
    if (dir.isEmpty()) {
        dir = isUserRoot(root)
            ? QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) + QStringLiteral("/veskora/registry")
            : QStringLiteral("/etc/veskora/registry");
    }
    return dir + u'/' + rootName(root) + QStringLiteral(".json");
}

void SetAutostartDirectory(HKEY root, const QString &directory)
{
    if (hasAutostart(root))
        autostartOverride(root) = directory;
}

QString AutostartDirectory(HKEY root)
{
    if (!hasAutostart(root))
        return QString();
    const QString dir = autostartOverride(root);
    if (!dir.isEmpty())
        return dir;
    if (root == HKEY_LOCAL_MACHINE)
        return QStringLiteral("/etc/xdg/autostart");
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) + QStringLiteral("/autostart");
}

QString DesktopExecForPath(const QString &path)
{
    // White space of any kind is quoted, or a reader would trim it off the ends.
    static const QString reserved = QStringLiteral("\"'\\><~|&;$*?#()`");
    bool quote = path.isEmpty();
    for (const QChar c : path)
        quote = quote || c.isSpace() || reserved.contains(c);
    QString arg;
    if (quote) {
        arg += u'"';
        for (const QChar c : path) {
            if (c == u'"' || c == u'`' || c == u'$' || c == u'\\')
                arg += u'\\';
            arg += c;
        }
        arg += u'"';
    } else {
        arg = path;
    }
    arg.replace(u'%', QStringLiteral("%%"));
    return arg;
}

QString PathFromDesktopExec(const QString &exec)
{
    QString text = exec;
    text.replace(QStringLiteral("%%"), QStringLiteral("%"));
    if (text.size() >= 2 && text.startsWith(u'"') && text.endsWith(u'"')) {
        QString out;
        for (qsizetype i = 1; i < text.size() - 1; ++i) {
            const QChar c = text.at(i);
            if (c == u'\\' && i + 1 < text.size() - 1) {
                const QChar n = text.at(i + 1);
                if (n == u'"' || n == u'`' || n == u'$' || n == u'\\') {
                    out += n;
                    ++i;
                    continue;
                }
            }
            out += c;
        }
        return out;
    }
    return text;
}

} // namespace Registry
