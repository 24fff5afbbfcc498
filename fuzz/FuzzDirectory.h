#pragma once

#include <QDir>
#include <QFile>
#include <QString>

#include <unistd.h>

// A directory of this run's own for the files an input is written to: in memory where the
// system offers it, since every write is synced to disk.
inline QString fuzzDirectory()
{
    static const QString dir = [] {
        const QString base = QDir(QStringLiteral("/dev/shm")).exists() ? QStringLiteral("/dev/shm") : QDir::tempPath();
        const QString path = QStringLiteral("%1/veskora-fuzz-%2").arg(base).arg(::getpid());
        QDir().mkpath(path);
        return path;
    }();
    return dir;
}

inline void writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    if (file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        file.write(bytes);
}

inline QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}
