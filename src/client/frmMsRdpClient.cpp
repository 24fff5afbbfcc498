#include "client/frmMsRdpClient.h"

#include "client/FormLayout.h"
#include "client/Forms.h"
#include "client/SessionControlFactory.h"
#include "client/clsDeviceChange.h"
#include "client/frmClient.h"
#include "platform/VbError.h"
#include "settings/modGlobClientVar.h"

#include <QCloseEvent>
#include <QIcon>

using namespace modGlobClientVar;

namespace {

// One icon for every session window, kept for the program's life: an icon made anew for each
// would leave its pictures in the toolkit's pixmap cache, a little more with every session.
const QIcon &programIcon()
{
    static const QIcon *icon = new QIcon(FormLayout::Icon(QStringLiteral(":/veskora.xpm")));
    return *icon;
}

} // namespace

frmMsRdpClient::frmMsRdpClient(QWidget *parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("frmMsRdpClient"));
    setWindowTitle(QStringLiteral("Veskora"));
    setWindowIcon(programIcon());
    msts = SessionControlFactory::Create(this);
    msts->setObjectName(QStringLiteral("msts"));
    msts->setGeometry(rect());
    // Shown only when a connection is prepared.
    msts->setVisible(false);
    connect(msts, &SessionControl::StateChanged, this, &frmMsRdpClient::msts_StateChanged);
    connect(msts, &SessionControl::OnDisconnected, this, &frmMsRdpClient::msts_OnDisconnected);
}

frmMsRdpClient::~frmMsRdpClient()
{
    // The watcher must leave the window before the window goes.
    DeviceChange.reset();
}

void frmMsRdpClient::Form_Load()
{
    mRdpNonScriptable = msts->NonScriptable();
    DeviceChange = std::make_unique<clsDeviceChange>();
    connect(DeviceChange.get(), &clsDeviceChange::DeviceChanged, this, &frmMsRdpClient::DeviceChange_DeviceChanged);
    DeviceChange->SubClass(this);
}

void frmMsRdpClient::Form_Unload()
{
    DeviceChange.reset();
    // The control goes with the window, and its session with it.
    msts_StateChanged(SessionControl::SessionState::NotStarted);
}

void frmMsRdpClient::msts_StateChanged(SessionControl::SessionState state)
{
    // The program's two flags say what the control's state says; nothing else writes them. A
    // session being made again or ended is started but not connected.
    gRdpStarted = state != SessionControl::SessionState::NotStarted;
    gRdpConnected = state == SessionControl::SessionState::Connected;
}

void frmMsRdpClient::msts_OnDisconnected(qint32 discReason)
{
    // Every end of a session returns to the main window the same way.
    Q_UNUSED(discReason);
    msts->setVisible(false);
    setVisible(false);
    hide();
    // Hidden until the next connection rebuilds it, the window gives back the toolkit's copy of
    // its picture (3 MB at 1024 x 768); shown again, it would be made anew.
    destroy();
    if (frmClient *client = Forms::Client())
        client->setVisible(true);
}

void frmMsRdpClient::DeviceChange_DeviceChanged(quint32 wParam, qint32 lParam)
{
    if (!mRdpNonScriptable)
        return;
    try {
        mRdpNonScriptable->NotifyRedirectDeviceChange(wParam, lParam);
    } catch (const VbError &) {
        // Without a connected session the control may refuse; that changes nothing.
    }
}

void frmMsRdpClient::closeEvent(QCloseEvent *event)
{
    // However the window is asked to close (a window manager, Alt+F4), and whatever the session
    // is doing, it ends at the server and its end brings the main window back; a window without
    // a session goes back at once.
    event->ignore();
    if (msts->State() != SessionControl::SessionState::NotStarted)
        msts->Disconnect();
    else
        msts_OnDisconnected(0);
}
