#include "rdp/FreeRdpSessionControl.h"

// The one entry point of the session module: a new session control for a session window.
extern "C" Q_DECL_EXPORT SessionControl *veskora_create_session_control(QWidget *parent)
{
    return new FreeRdpSessionControl(parent);
}
