#include "platform/AutostartEntries.h"

#include "platform/FileWrite.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QStringList>

#include <cerrno>
#include <unistd.h>

namespace Registry {

namespace {

bool hasAutostart(HKEY root)
{
    return root == HKEY_LOCAL_MACHINE || root == HKEY_CURRENT_USER;
}

QString &autostartOverride(HKEY root)
{
    static QString machine, user;
    return root == HKEY_LOCAL_MACHINE ? machine : user;
}

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
    QString found;
    if (QFileInfo(dir + u'/' + wanted).isFile()) {
        found = wanted;
    } else {
        for (const QString &f : QDir(dir).entryList({QStringLiteral("*.desktop")}, QDir::Files | QDir::Hidden)) {
            if (f.compare(wanted, Qt::CaseInsensitive) == 0) {
                found = f;
                break;
            }
        }
    }
    if (exists)
        *exists = !found.isEmpty();
    return dir + u'/' + (found.isEmpty() ? wanted : found);
}

// The escapes of a Desktop Entry string value.
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

// The program path of the entry's Exec key (empty without one); false when unreadable.
bool readEntryExec(const QString &file, QString &path)
{
    QFile f(file);
    if (!f.open(QIODevice::ReadOnly))
        return false;
    path.clear();
    bool inEntry = false;
    for (QString line : QString::fromUtf8(f.readAll()).split(u'\n')) {
        line = line.trimmed();
        if (line.startsWith(u'[')) {
            inEntry = line == u"[Desktop Entry]";
            continue;
        }
        if (!inEntry || line.startsWith(u'#'))
            continue;
        const qsizetype eq = line.indexOf(u'=');
        if (eq > 0 && line.left(eq).trimmed() == u"Exec") {
            path = PathFromDesktopExec(unescapeString(line.mid(eq + 1).trimmed()));
            break;
        }
    }
    return true;
}

// TryExec: a desktop skips the entry while the program is missing (removed with its package,
// say), instead of failing to start it at every login.
QByteArray entryText(const QString &name, const QString &path)
{
    return (QStringLiteral("[Desktop Entry]\nType=Application\nName=") + escapeString(name) + QStringLiteral("\nTryExec=")
            + escapeString(path) + QStringLiteral("\nExec=") + escapeString(DesktopExecForPath(path)) + u'\n')
        .toUtf8();
}

} // namespace

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
    if (text.size() < 2 || !text.startsWith(u'"') || !text.endsWith(u'"'))
        return text;
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

namespace Autostart {

bool IsRunKey(HKEY root, const QString &path)
{
    return hasAutostart(root) && path.compare(RunKey, Qt::CaseInsensitive) == 0;
}

bool IsRunKeyOrAbove(HKEY root, const QString &path)
{
    return hasAutostart(root) && (RunKey + u'\\').toCaseFolded().startsWith((path + u'\\').toCaseFolded());
}

bool MayWrite(HKEY root)
{
    return FileWrite::DirectoryWritable(AutostartDirectory(root));
}

LONG Read(HKEY root, const QString &name, QString &path)
{
    bool exists = false;
    const QString file = entryFile(root, name, &exists);
    if (!validEntryName(name) || !exists || !readEntryExec(file, path))
        return ERROR_FILE_NOT_FOUND;
    return ERROR_SUCCESS;
}

LONG Write(HKEY root, const QString &name, const QString &path)
{
    // Only a command can start at login.
    if (!validEntryName(name) || path.isEmpty())
        return ERROR_INVALID_PARAMETER;
    const QString dir = AutostartDirectory(root);
    if (!MayWrite(root))
        return ERROR_ACCESS_DENIED;
    const QString file = entryFile(root, name);
    if (!FileWrite::MakeDirectory(dir, 0755) || !FileWrite::MayWrite(file))
        return ERROR_ACCESS_DENIED;
    if (!FileWrite::WriteWholeFile(file, entryText(name, path), 0644))
        return ERROR_REGISTRY_IO_FAILED;
    return ERROR_SUCCESS;
}

LONG Remove(HKEY root, const QString &name)
{
    bool exists = false;
    const QString file = entryFile(root, name, &exists);
    if (!validEntryName(name) || !exists)
        return ERROR_FILE_NOT_FOUND;
    if (!MayWrite(root))
        return ERROR_ACCESS_DENIED;
    if (::unlink(QFile::encodeName(file).constData()) != 0)
        return (errno == EACCES || errno == EPERM || errno == EROFS) ? ERROR_ACCESS_DENIED : ERROR_REGISTRY_IO_FAILED;
    return ERROR_SUCCESS;
}

} // namespace Autostart

} // namespace Registry
