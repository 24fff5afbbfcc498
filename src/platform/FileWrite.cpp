#include "platform/FileWrite.h"

#include "platform/Logging.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <vector>
#include <sys/stat.h>
#include <unistd.h>

namespace FileWrite {

namespace {

bool writeAll(int fd, const QByteArray &data)
{
    const char *p = data.constData();
    qsizetype left = data.size();
    while (left > 0) {
        const ssize_t w = ::write(fd, p, size_t(left));
        if (w < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        p += w;
        left -= w;
    }
    return true;
}

void syncDirectory(const QByteArray &dir)
{
    const int fd = ::open(dir.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

// Follows symbolic links to the path they finally name, which need not exist, so that a
// write changes the file a link points at and leaves the link. False for a loop of links.
bool resolveLinks(QByteArray &path)
{
    for (int hops = 0; hops < 40; ++hops) {
        struct stat st{};
        if (::lstat(path.constData(), &st) != 0 || !S_ISLNK(st.st_mode))
            return true;
        QByteArray target(PATH_MAX, '\0');
        const ssize_t n = ::readlink(path.constData(), target.data(), size_t(target.size()));
        if (n < 0 || n >= target.size())
            return false;
        target.truncate(n);
        if (!target.startsWith('/'))
            target.prepend(path.left(path.lastIndexOf('/') + 1));
        path = target;
    }
    return false;
}

enum class Replace { Done, Failed, NotHere };

bool inGroup(uid_t uid, gid_t gid)
{
    const struct passwd *user = ::getpwuid(uid);
    int count = 0;
    if (!user || user->pw_gid == gid)
        return user != nullptr;
    (void)::getgrouplist(user->pw_name, user->pw_gid, nullptr, &count); // tells the count
    std::vector<gid_t> groups(static_cast<size_t>(count));
    return ::getgrouplist(user->pw_name, user->pw_gid, groups.data(), &count) >= 0
           && std::find(groups.begin(), groups.end(), gid) != groups.end();
}

// Gives the temporary file the old file's owner and group. A writer who may not give a file
// away (a member of a group-writable file's group) becomes its owner instead, where that
// changes nobody's access: the group may do what the owner may, and the old owner is root
// or in the group too.
bool keepOwnership(int fd, const struct stat &old)
{
    if (::fchown(fd, old.st_uid, old.st_gid) == 0)
        return true;
    const mode_t owner = (old.st_mode >> 6) & 7, group = (old.st_mode >> 3) & 7;
    return (group & owner) == owner && (old.st_uid == 0 || inGroup(old.st_uid, old.st_gid))
           && ::fchown(fd, uid_t(-1), old.st_gid) == 0;
}

// Replaces the file by a temporary one beside it, flushed and renamed over it, so an
// interrupted write leaves the old file whole. The new file takes the old one's group and
// mode, and its owner where keepOwnership allows; NotHere when the directory takes no new
// file or the ownership cannot be kept (another user's file, a group the writer is not in).
Replace replaceAtomically(const QByteArray &path, const QByteArray &data, const struct stat *old, unsigned newFilePerms)
{
    QByteArray tmpl = path + ".tmp-XXXXXX";
    const int fd = ::mkostemp(tmpl.data(), O_CLOEXEC); // created 0600
    if (fd < 0)
        return Replace::NotHere;
    // Owner first: a change of owner clears the set-id bits that the mode then restores.
    if (old && !keepOwnership(fd, *old)) {
        ::close(fd);
        ::unlink(tmpl.constData());
        return Replace::NotHere;
    }
    bool ok = ::fchmod(fd, old ? old->st_mode & 07777 : mode_t(newFilePerms & 07777)) == 0;
    ok = ok && writeAll(fd, data) && ::fsync(fd) == 0;
    ok = (::close(fd) == 0) && ok;
    ok = ok && ::rename(tmpl.constData(), path.constData()) == 0;
    if (!ok) {
        ::unlink(tmpl.constData());
        return Replace::Failed;
    }
    const qsizetype slash = path.lastIndexOf('/');
    syncDirectory(slash < 0 ? QByteArray(".") : slash == 0 ? QByteArray("/") : path.left(slash));
    return Replace::Done;
}

// Rewrites an existing file where it stands, for a file that may be written in a directory
// that may not. Growing, it first reserves the room, so a full disk fails before a byte of
// the old content changes; only an I/O error in the middle can leave it partly rewritten.
bool writeInPlace(const QByteArray &path, const QByteArray &data)
{
    const int fd = ::open(path.constData(), O_WRONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    struct stat st{};
    bool ok = ::fstat(fd, &st) == 0;
    if (ok && data.size() > st.st_size && ::posix_fallocate(fd, st.st_size, data.size() - st.st_size) != 0) {
        (void)!::ftruncate(fd, st.st_size); // an emulated reservation may have grown the file
        ok = false;
    }
    ok = ok && writeAll(fd, data) && ::ftruncate(fd, data.size()) == 0 && ::fsync(fd) == 0;
    ok = (::close(fd) == 0) && ok;
    return ok;
}

// Writable by permission and by mode: a path without any write bit stays read-only for root.
bool writableByMode(const QByteArray &path, const struct stat &st)
{
    return (st.st_mode & 0222) != 0 && ::access(path.constData(), W_OK) == 0;
}

} // namespace

bool DirectoryWritable(const QString &directory)
{
    QString dir = QDir::cleanPath(QDir(directory).absolutePath());
    for (;;) {
        const QByteArray path = QFile::encodeName(dir);
        struct stat st{};
        if (::stat(path.constData(), &st) == 0)
            return S_ISDIR(st.st_mode) && writableByMode(path, st);
        const QString parent = QFileInfo(dir).path();
        if (parent == dir)
            return false;
        dir = parent;
    }
}

bool MayWrite(const QString &fileName)
{
    QByteArray path = QFile::encodeName(fileName);
    if (!resolveLinks(path))
        return false;
    struct stat st{};
    if (::stat(path.constData(), &st) == 0)
        return S_ISREG(st.st_mode) && writableByMode(path, st);
    return errno == ENOENT && DirectoryWritable(QFileInfo(QFile::decodeName(path)).path());
}

bool MakeDirectory(const QString &directory, unsigned perms)
{
    if (QFileInfo(directory).isDir())
        return true;
    if (!QDir().mkpath(directory))
        return false;
    (void)::chmod(QFile::encodeName(directory).constData(), mode_t(perms & 07777));
    return true;
}

bool WriteWholeFile(const QString &fileName, const QByteArray &data, unsigned newFilePerms)
{
    const auto done = [&](bool ok, const char *how) {
        if (ok)
            qCDebug(lcSettings) << "wrote" << fileName << how;
        else
            qCInfo(lcSettings) << "could not write" << fileName;
        return ok;
    };
    QByteArray path = QFile::encodeName(fileName);
    if (!resolveLinks(path))
        return done(false, "");
    struct stat old{};
    const bool exists = ::stat(path.constData(), &old) == 0;
    if (exists && !S_ISREG(old.st_mode))
        return done(false, "");
    const Replace replaced = replaceAtomically(path, data, exists ? &old : nullptr, newFilePerms);
    if (replaced != Replace::NotHere)
        return done(replaced == Replace::Done, "(replaced whole)");
    return done(exists && writeInPlace(path, data), "(in place)");
}

} // namespace FileWrite
