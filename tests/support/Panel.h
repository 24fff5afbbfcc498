#pragma once

#include "RecordingSessionControl.h"
#include "TestSupport.h"
#include "client/Forms.h"
#include "client/frmClient.h"
#include "client/frmMsRdpClient.h"
#include "platform/MsgBox.h"

// The forms under test.
namespace TestSupport {

// Records message boxes instead of showing them, while it lives.
struct MsgBoxRecorder
{
    QList<MsgBox::Call> calls;
    MsgBoxRecorder() { MsgBox::SetHandler([this](const MsgBox::Call &call) { calls.append(call); }); }
    ~MsgBoxRecorder() { MsgBox::SetHandler({}); }
};

// Writes Client.cfg with [Client] and the given lines and loads the main window.
inline frmClient &LoadPanel(const ProgramDir &dir, const QStringList &clientLines)
{
    dir.write(QStringLiteral("Client.cfg"), QStringList{QStringLiteral("[Client]")} + clientLines);
    return Forms::LoadClient();
}

// Unloads both windows and lets them go.
inline void UnloadForms()
{
    Forms::UnloadClient();
    Forms::UnloadMsRdpClient();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

template<typename T = QWidget>
T *child(const QObject *form, const char *name) { return form->findChild<T *>(QLatin1String(name)); }

} // namespace TestSupport
