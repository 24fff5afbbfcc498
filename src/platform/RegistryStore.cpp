#include "platform/RegistryStore.h"

#include "platform/FileWrite.h"

#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStandardPaths>
#include <QStringList>

namespace Registry {

namespace {

QString &storeDirectoryOverride()
{
    static QString dir;
    return dir;
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

QString folded(const QString &text)
{
    return text.toCaseFolded();
}

} // namespace

void SetStoreDirectory(const QString &directory)
{
    storeDirectoryOverride() = directory;
}

QString StoreFile(HKEY root)
{
    QString dir = storeDirectoryOverride();
    if (dir.isEmpty()) {
        dir = root == HKEY_CURRENT_USER
            ? QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) + QStringLiteral("/veskora/registry")
            : QStringLiteral("/etc/veskora/registry");
    }
    return dir + u'/' + rootName(root) + QStringLiteral(".json");
}

LONG RegistryStore::load()
{
    m_keys.clear();
    QFile file(StoreFile(m_root));
    if (!file.exists())
        return ERROR_SUCCESS;
    if (!file.open(QIODevice::ReadOnly))
        return ERROR_ACCESS_DENIED;
    QJsonParseError error{};
    const QJsonDocument doc = QJsonDocument::fromJson(file.readAll(), &error);
    if (error.error != QJsonParseError::NoError || !doc.isObject())
        return ERROR_BADDB;
    for (const QJsonValue &k : doc.object().value(QStringLiteral("keys")).toArray()) {
        const QJsonObject ko = k.toObject();
        Key key{ko.value(QStringLiteral("path")).toString(), {}};
        for (const QJsonValue &v : ko.value(QStringLiteral("values")).toArray()) {
            const QJsonObject vo = v.toObject();
            const Value value{vo.value(QStringLiteral("name")).toString(), DWORD(vo.value(QStringLiteral("type")).toInteger()),
                              QByteArray::fromBase64(vo.value(QStringLiteral("data")).toString().toLatin1())};
            key.values.insert(folded(value.name), value);
        }
        m_keys.insert(folded(key.path), key);
    }
    return ERROR_SUCCESS;
}

bool RegistryStore::mayWrite() const
{
    return FileWrite::MayWrite(StoreFile(m_root));
}

LONG RegistryStore::save() const
{
    const QString fileName = StoreFile(m_root);
    if (!mayWrite())
        return ERROR_ACCESS_DENIED;
    QStringList paths = m_keys.keys();
    paths.sort();
    QJsonArray keys;
    for (const QString &p : paths) {
        const Key &key = *m_keys.constFind(p);
        QStringList names = key.values.keys();
        names.sort();
        QJsonArray values;
        for (const QString &n : names) {
            const Value &v = *key.values.constFind(n);
            values.append(QJsonObject{{QStringLiteral("name"), v.name},
                                      {QStringLiteral("type"), qint64(v.type)},
                                      {QStringLiteral("data"), QString::fromLatin1(v.data.toBase64())}});
        }
        keys.append(QJsonObject{{QStringLiteral("path"), key.path}, {QStringLiteral("values"), values}});
    }
    const QByteArray json = QJsonDocument(QJsonObject{{QStringLiteral("keys"), keys}}).toJson();
    const bool user = m_root == HKEY_CURRENT_USER;
    if (!FileWrite::MakeDirectory(QFileInfo(fileName).path(), user ? 0700 : 0755)
        || !FileWrite::WriteWholeFile(fileName, json, user ? 0600 : 0644))
        return ERROR_REGISTRY_IO_FAILED;
    return ERROR_SUCCESS;
}

bool RegistryStore::hasKey(const QString &path) const
{
    return m_keys.contains(folded(path));
}

void RegistryStore::addKey(const QString &path)
{
    if (!hasKey(path))
        m_keys.insert(folded(path), Key{path, {}});
}

const Value *RegistryStore::value(const QString &path, const QString &name) const
{
    const auto key = m_keys.constFind(folded(path));
    if (key == m_keys.constEnd())
        return nullptr;
    const auto value = key->values.constFind(folded(name));
    return value == key->values.constEnd() ? nullptr : &*value;
}

void RegistryStore::setValue(const QString &path, const QString &name, DWORD type, const QByteArray &data)
{
    addKey(path);
    Key &key = m_keys[folded(path)];
    const Value *old = value(path, name);
    key.values.insert(folded(name), Value{old ? old->name : name, type, data});
}

bool RegistryStore::removeValue(const QString &path, const QString &name)
{
    const auto key = m_keys.find(folded(path));
    return key != m_keys.end() && key->values.remove(folded(name));
}

} // namespace Registry
