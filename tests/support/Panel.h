#pragma once

#include "RecordingSessionControl.h"
#include "TestSupport.h"
#include "platform/MsgBox.h"

class frmClient;

// The forms under test.
namespace TestSupport {

// Records message boxes instead of showing them, while it lives.
class MsgBoxRecorder
{
public:
    MsgBoxRecorder();
    ~MsgBoxRecorder();
    QList<MsgBox::Call> calls;
    QStringList texts() const;
};

// Writes Client.cfg with [Client] and the given lines and loads the main window.
frmClient &LoadPanel(const ProgramDir &dir, const QStringList &clientLines);
// Unloads both windows and lets them go.
void UnloadForms();

// A control of a form, found by its name.
template<typename T = QWidget>
T *child(const QObject *form, const char *name)
{
    return form->findChild<T *>(QLatin1String(name));
}

} // namespace TestSupport
