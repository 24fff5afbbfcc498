// The INI engine on any file and any section, key and value:
// - a value written reads back exactly as written, blanks and quotes included;
// - every other key reads as it did before the write;
// - writing the same value again changes nothing in the file.
#include "FuzzCheck.h"
#include "FuzzDirectory.h"

#include "platform/IniFile.h"

#include <fuzzer/FuzzedDataProvider.h>

namespace {

QString readValue(const QString &section, const QString &key, const QString &file)
{
    QString value;
    IniFile::GetPrivateProfileStringA(section, key, QStringLiteral("<missing>"), value, 4096, file);
    return value;
}

// Names as the program writes them: no blanks around them.
QString name(FuzzedDataProvider &in)
{
    return QString::fromUtf8(bytesOf(in.ConsumeRandomLengthString(16))).trimmed();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static const QString file = fuzzDirectory() + QStringLiteral("/test.ini");
    FuzzedDataProvider in(data, size);
    const QString section = name(in), key = name(in), otherSection = name(in), otherKey = name(in);
    const QString value = QString::fromUtf8(bytesOf(in.ConsumeRandomLengthString(300)));
    writeFile(file, bytesOf(in.ConsumeRemainingBytesAsString()));

    // A file beginning with the byte order mark has it for its own, not for a first key.
    if (section.isEmpty() && key.startsWith(QChar::ByteOrderMark))
        return 0;
    const QString other = readValue(otherSection, otherKey, file);
    if (!IniFile::WritePrivateProfileStringA(section, key, value, file))
        return 0;
    FUZZ_CHECK(readValue(section, key, file) == value);
    const bool same = section.compare(otherSection, Qt::CaseInsensitive) == 0 && key.compare(otherKey, Qt::CaseInsensitive) == 0;
    FUZZ_CHECK(same || readValue(otherSection, otherKey, file) == other);

    const QByteArray written = readFile(file);
    FUZZ_CHECK(IniFile::WritePrivateProfileStringA(section, key, value, file));
    FUZZ_CHECK(readFile(file) == written);
    return 0;
}
