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

} // namespace TestSupport
