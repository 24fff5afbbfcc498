#include "system/ResidentPages.h"

#include <QFile>
#include <QList>

#include <sys/mman.h>

namespace ResidentPages {

namespace {

struct Mapping
{
    quintptr start = 0, end = 0;
    QByteArray permissions;
    QString path; // empty: not a file
    qint64 residentKb = 0, ownKb = 0;
};

// /proc/self/smaps: a header line per mapping ("start-end perms offset dev inode path"), then
// its figures ("Rss:   12 kB").
QList<Mapping> mappings()
{
    QList<Mapping> found;
    QFile smaps(QStringLiteral("/proc/self/smaps"));
    if (!smaps.open(QIODevice::ReadOnly))
        return found;
    for (const QByteArray &line : smaps.readAll().split('\n')) {
        const QList<QByteArray> fields = line.simplified().split(' ');
        if (fields.size() >= 5 && fields.at(0).contains('-') && !fields.at(0).endsWith(':')) {
            Mapping m;
            const QList<QByteArray> range = fields.at(0).split('-');
            m.start = quintptr(range.value(0).toULongLong(nullptr, 16));
            m.end = quintptr(range.value(1).toULongLong(nullptr, 16));
            m.permissions = fields.at(1);
            if (fields.size() >= 6 && fields.at(4) != "0" && fields.at(5).startsWith('/'))
                m.path = QFile::decodeName(line.mid(line.indexOf('/')));
            found.append(m);
        } else if (!found.isEmpty() && fields.size() >= 2) {
            if (fields.at(0) == "Rss:")
                found.last().residentKb = fields.at(1).toLongLong();
            else if (fields.at(0) == "Anonymous:")
                found.last().ownKb = fields.at(1).toLongLong();
        }
    }
    return found;
}

} // namespace

QSet<QString> MappedFiles()
{
    QSet<QString> files;
    for (const Mapping &m : mappings())
        if (!m.path.isEmpty())
            files.insert(m.path);
    return files;
}

qint64 Release(const QSet<QString> &files, Which which)
{
    qint64 released = 0;
    for (const Mapping &m : mappings()) {
        // Only pages that are the file's own: dropping one the process wrote would lose it.
        const bool readOnlyPrivate = m.permissions.size() == 4 && m.permissions.at(0) == 'r'
                                     && m.permissions.at(1) == '-' && m.permissions.at(3) == 'p';
        const bool chosen = !m.path.isEmpty() && files.contains(m.path) == (which == Which::Listed);
        if (!chosen || !readOnlyPrivate || m.ownKb != 0 || m.residentKb == 0)
            continue;
        if (madvise(reinterpret_cast<void *>(m.start), m.end - m.start, MADV_DONTNEED) == 0)
            released += m.residentKb * 1024;
    }
    return released;
}

} // namespace ResidentPages
