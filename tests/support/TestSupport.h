#pragma once

#include "platform/MsgBox.h"
#include "platform/VbError.h"

#include <QList>
#include <QString>
#include <QTemporaryDir>

// Small helpers the tests share.
namespace TestSupport {

// The error number an operation raises, 0 when it raises none.
template<typename F>
int errorOf(F &&f)
{
    try {
        f();
    } catch (const VbError &e) {
        return e.number();
    }
    return 0;
}

// Records message boxes instead of showing them, while it lives.
class MsgBoxRecorder
{
public:
    MsgBoxRecorder();
    ~MsgBoxRecorder();
    QList<MsgBox::Call> calls;
    QStringList texts() const;
};

// A temporary program directory: the globals point Client.cfg and User.cfg into it, and the
// registry store and autostart directories are redirected into it while it lives.
class ProgramDir
{
public:
    ProgramDir();
    ~ProgramDir();
    QString path() const { return m_dir.path(); }
    QString file(const QString &name) const { return m_dir.filePath(name); }
    // Writes a file with the given text (lines joined with CR LF).
    void write(const QString &name, const QStringList &lines) const;

private:
    QTemporaryDir m_dir;
};

// A tmpfs mounted for the length of a test (root only), unmounted however the test ends.
class TmpfsMount
{
public:
    explicit TmpfsMount(const QString &dir);
    ~TmpfsMount() { unmount(); }
    TmpfsMount(const TmpfsMount &) = delete;
    TmpfsMount &operator=(const TmpfsMount &) = delete;
    bool unmount();
    bool mounted() const { return m_mounted; }
    QString error() const { return m_error; }
    // Why a test may not mount here, or nothing when it may.
    static QString refusal();

private:
    QByteArray m_dir;
    bool m_mounted = false;
    QString m_error;
};

} // namespace TestSupport
