// The registry store on any store file and any autostart entry:
// - reading them raises nothing and crashes nothing;
// - a value written reads back unchanged, with its type, and one written before it in the
//   same key is kept;
// - a program path written to the Run key reads back unchanged from its autostart entry.
#include "FuzzCheck.h"
#include "FuzzDirectory.h"

#include "platform/Registry.h"

#include <fuzzer/FuzzedDataProvider.h>

using namespace Registry;

namespace {

// The value's type and bytes, or an error code as the type when it cannot be read.
QPair<DWORD, QByteArray> query(HKEY key, const QString &name)
{
    DWORD type = 0, bytes = 0;
    if (const LONG r = RegQueryValueEx(key, name, nullptr, &type, nullptr, &bytes); r != ERROR_SUCCESS)
        return {DWORD(r) | 0x80000000u, {}};
    QByteArray data(qsizetype(bytes), '\0');
    if (const LONG r = RegQueryValueEx(key, name, nullptr, &type, reinterpret_cast<quint8 *>(data.data()), &bytes);
        r != ERROR_SUCCESS)
        return {DWORD(r) | 0x80000000u, {}};
    return {type, data.left(qsizetype(bytes))};
}

LONG set(HKEY key, const QString &name, DWORD type, const QByteArray &data)
{
    return RegSetValueEx(key, name, 0, type, reinterpret_cast<const quint8 *>(data.constData()), DWORD(data.size()));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static const QString dir = [] {
        SetStoreDirectory(fuzzDirectory());
        SetAutostartDirectory(HKEY_CURRENT_USER, fuzzDirectory() + QStringLiteral("/autostart"));
        QDir().mkpath(AutostartDirectory(HKEY_CURRENT_USER));
        return fuzzDirectory();
    }();
    FuzzedDataProvider in(data, size);
    const QString subKey = QString::fromUtf8(bytesOf(in.ConsumeRandomLengthString(40)));
    const QString name = QString::fromUtf8(bytesOf(in.ConsumeRandomLengthString(20)));
    const QByteArray value = bytesOf(in.ConsumeRandomLengthString(200));
    const QByteArray file = bytesOf(in.ConsumeRemainingBytesAsString());
    writeFile(StoreFile(HKEY_CURRENT_USER), file);
    writeFile(AutostartDirectory(HKEY_CURRENT_USER) + QStringLiteral("/entry.desktop"), file);

    HKEY key = 0;
    if (RegCreateKeyEx(HKEY_CURRENT_USER, subKey, 0, QString(), 0, KEY_ALL_ACCESS, nullptr, &key, nullptr)
        == ERROR_SUCCESS) {
        query(key, name);
        const QString earlier = name + QStringLiteral("-earlier");
        if (set(key, earlier, REG_DWORD, QByteArrayLiteral("\x01\x02\x03\x04")) == ERROR_SUCCESS
            && set(key, name, REG_BINARY, value) == ERROR_SUCCESS) {
            FUZZ_CHECK(query(key, name) == qMakePair(REG_BINARY, value));
            FUZZ_CHECK(query(key, earlier) == qMakePair(REG_DWORD, QByteArrayLiteral("\x01\x02\x03\x04")));
        }
        RegCloseKey(key);
    }

    if (RegOpenKeyEx(HKEY_CURRENT_USER, RunKey, 0, KEY_ALL_ACCESS, &key) == ERROR_SUCCESS) {
        query(key, QStringLiteral("entry"));
        const qsizetype end = value.indexOf('\0');
        const QString path = QString::fromUtf8(end < 0 ? value : value.left(end));
        if (set(key, QStringLiteral("Entry"), REG_SZ, value) == ERROR_SUCCESS)
            FUZZ_CHECK(query(key, QStringLiteral("entry")) == qMakePair(REG_SZ, path.toUtf8() + '\0'));
        RegCloseKey(key);
    }
    return 0;
}
