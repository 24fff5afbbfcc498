#include "Panel.h"

#include "client/Forms.h"
#include "client/frmClient.h"

#include <QCoreApplication>

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

frmClient &LoadPanel(const ProgramDir &dir, const QStringList &clientLines)
{
    dir.write(QStringLiteral("Client.cfg"), QStringList{QStringLiteral("[Client]")} + clientLines);
    return Forms::LoadClient();
}

void UnloadForms()
{
    Forms::UnloadClient();
    Forms::UnloadMsRdpClient();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

} // namespace TestSupport
