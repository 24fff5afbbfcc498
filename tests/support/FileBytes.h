#pragma once

#include <QFile>
#include <QTest>

#include <sys/stat.h>

namespace TestSupport {
// The file's bytes, empty when it cannot be read.
inline QByteArray readBytes(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// The file's status (all zero when there is none).
inline struct stat statOf(const QString &path)
{
    struct stat st{};
    return ::stat(QFile::encodeName(path).constData(), &st), st;
}

inline void writeBytes(const QString &path, const QByteArray &data)
{
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(data) == data.size());
}
} // namespace TestSupport
