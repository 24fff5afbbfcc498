#pragma once

#include <QList>
#include <QString>
#include <QtGlobal>

#include <memory>

// The INI engine: the three profile functions of the program with the semantics the
// settings files have always had.
//
// Reading: lines end in LF, CR or CR LF and are trimmed; ";" starts a comment line; "[name]"
// opens a section (name up to the last "]"); a key line splits at its first "="; lines
// before the first section form a nameless section. Names are compared without regard to
// case, and only the first section and the first key of a name count. A value enclosed in
// one pair of equal quotes (' or ") loses them.
//
// Writing keeps every other line byte for byte, adds a missing section at the end of the
// file and a missing key at the end of its section, and writes "key=value" with CR LF. The
// file is checked and written as FileWrite says. A file the engine creates is readable and
// writable by its owner only, because settings files hold passwords. Files are UTF-8.
namespace IniFile {

// Copies at most size - 1 characters of the key's value (or of the default, trailing
// blanks cut, when the file, section or key is missing) into returnedString and returns
// their number.
quint32 GetPrivateProfileStringA(const QString &appName, const QString &keyName, const QString &defaultValue,
                                 QString &returnedString, quint32 size, const QString &fileName);

// The key's value read as an integer: leading blanks, one optional sign, decimal digits or
// "0x" and hex digits, up to the first other character ("12abc" -> 12, "abc" -> 0). The
// default when the key is missing or its value empty.
qint32 GetPrivateProfileIntA(const QString &appName, const QString &keyName, qint32 defaultValue,
                             const QString &fileName);

struct Document;

// A file read once for several lookups, each answered as the function of the same name would
// answer it on the file as it was read.
class Snapshot
{
public:
    explicit Snapshot(const QString &fileName);
    quint32 GetPrivateProfileStringA(const QString &appName, const QString &keyName, const QString &defaultValue,
                                     QString &returnedString, quint32 size) const;
    qint32 GetPrivateProfileIntA(const QString &appName, const QString &keyName, qint32 defaultValue) const;

private:
    bool lookup(const QString &appName, const QString &keyName, QString &value) const;

    std::shared_ptr<const Document> m_doc; // null: the file could not be read
};

// Sets the key to value, creating the file (not its directory) and the section as needed.
// Does nothing when the key already reads as that value. A value the reader would change
// (blanks at either end, one pair of enclosing quotes) is written in quotes, so that every
// value reads back exactly as written. False when nothing could be written: a file
// FileWrite::MayWrite refuses, a missing directory, a write error, or names and values that
// would break the file's line structure (line breaks; a key name with "=" or starting with
// "[" or ";").
bool WritePrivateProfileStringA(const QString &appName, const QString &keyName, const QString &value,
                                const QString &fileName);

struct Entry
{
    QString section;
    QString key;
    QString value;
};

// Sets each key as WritePrivateProfileStringA would, in one read and at most one write of
// the file, so that an interrupted write leaves all of them old or all new. An entry it
// would refuse is left out; false then, and when nothing could be written.
bool WritePrivateProfileStrings(const QList<Entry> &entries, const QString &fileName);

} // namespace IniFile
