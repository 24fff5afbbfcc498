#include "TestSupport.h"

#include "startup/modGlobClientVar.h"

#include <QFile>

namespace TestSupport {

MsgBoxRecorder::MsgBoxRecorder()
{
    MsgBox::SetHandler([this](const MsgBox::Call &call) { calls.append(call); });
}

MsgBoxRecorder::~MsgBoxRecorder()
{
    MsgBox::SetHandler({});
}

QStringList MsgBoxRecorder::texts() const
{
    QStringList t;
    for (const auto &c : calls)
        t << c.text;
    return t;
}

ProgramDir::ProgramDir()
{
    modGlobClientVar::gClientCfgFile = m_dir.filePath(QStringLiteral("Client.cfg"));
    modGlobClientVar::gUserCfgFile = m_dir.filePath(QStringLiteral("User.cfg"));
}

void ProgramDir::write(const QString &name, const QStringList &lines) const
{
    QFile f(file(name));
    if (f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        f.write(lines.join(QStringLiteral("\r\n")).toUtf8() + "\r\n");
}

} // namespace TestSupport
