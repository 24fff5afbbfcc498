#include "shell/frmClientTrayIcon.h"

#include "client/FormLayout.h"
#include "client/Forms.h"
#include "client/frmClient.h"
#include "client/frmMsRdpClient.h"
#include "shell/frmAboutClient.h"
#include "shell/frmEnterPassword.h"
#include "shell/frmPassDefine.h"
#include "shell/modSecurityPassword.h"

#include <QAction>
#include <QContextMenuEvent>
#include <QCoreApplication>
#include <QCursor>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingReply>
#include <QDBusVariant>
#include <QFrame>
#include <QGuiApplication>
#include <QIcon>
#include <QMenu>
#include <QPointer>
#include <QSystemTrayIcon>

namespace {
Forms::Instance<frmClientTrayIcon> g_instance;

std::function<void()> &endProgram()
{
    static std::function<void()> end;
    return end;
}

// The pictures of the icon's image list, index 1 first.
const QStringList ImageListIcon{QStringLiteral(":/veskora.xpm")};

// The tip field holds 64 characters with the closing NUL.
constexpr int TipLength = 63;

bool onXcb()
{
    return QGuiApplication::platformName() == u"xcb";
}

// Whether the icons are on a StatusNotifierItem host over D-Bus (KDE Plasma, GNOME's
// AppIndicator, XFCE, LXQt). Qt decides once, as the first icon is made: on such a host where
// one is registered on the session bus, and wherever there is no X notification area to take
// instead. The bus is asked right after that (statusNotifierQuestion), and its answer waited for
// only when an icon is first activated, not on the way to the main window.
QDBusPendingCall statusNotifierQuestion()
{
    static const QDBusPendingCall question = [] {
        const QString watcher = QStringLiteral("org.kde.StatusNotifierWatcher");
        QDBusMessage get = QDBusMessage::createMethodCall(
            watcher, QStringLiteral("/StatusNotifierWatcher"), QStringLiteral("org.freedesktop.DBus.Properties"),
            QStringLiteral("Get"));
        get << watcher << QStringLiteral("IsStatusNotifierHostRegistered");
        return QDBusConnection::sessionBus().asyncCall(get);
    }();
    return question;
}

bool onStatusNotifierHost()
{
    static const bool onHost = !onXcb() || [] {
        QDBusPendingReply<QDBusVariant> answer = statusNotifierQuestion();
        answer.waitForFinished();
        return answer.isValid() && answer.value().variant().toBool();
    }();
    return onHost;
}

// The notification codes the icon's activations stand for. A StatusNotifierItem host reports
// the operator's click as an activation, which Qt passes on as a single trigger, never as a
// double click: there the trigger does what the double click does.
int notificationCode(QSystemTrayIcon::ActivationReason reason, bool onHost)
{
    switch (reason) {
    case QSystemTrayIcon::Trigger:
        return onHost ? frmClientTrayIcon::WM_LBUTTONDBLCLK : 0;
    case QSystemTrayIcon::DoubleClick:
        return frmClientTrayIcon::WM_LBUTTONDBLCLK;
    case QSystemTrayIcon::Context:
        return frmClientTrayIcon::WM_RBUTTONUP;
    default:
        return 0;
    }
}

// Where the desktop has no notification area, a right click on the main window opens the
// menu the icon would have opened.
class TrayMenuStandIn : public QObject
{
public:
    TrayMenuStandIn(QMenu *menu, QObject *parent) : QObject(parent), m_menu(menu) {}

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::ContextMenu && m_menu) {
            m_menu->popup(static_cast<QContextMenuEvent *>(event)->globalPos());
            return true;
        }
        return QObject::eventFilter(watched, event);
    }

private:
    QPointer<QMenu> m_menu;
};

QAction *entry(QMenu *menu, const char *name, const QString &caption)
{
    QAction *action = caption.isEmpty() ? menu->addSeparator() : menu->addAction(caption);
    action->setObjectName(QLatin1String(name));
    return action;
}

} // namespace

frmClientTrayIcon::frmClientTrayIcon()
{
    setObjectName(QStringLiteral("frmClientTrayIcon"));
    // Never shown; the caption only names the form.
    setWindowTitle(QStringLiteral("frmDummyTrayIcon"));
    setWindowIcon(FormLayout::Icon(ImageListIcon.first()));

    mnuTrayMenu = new QMenu(QStringLiteral("TrayMenu"), this);
    mnuTrayMenu->setObjectName(QStringLiteral("mnuTrayMenu"));
    mnuConfiguration = entry(mnuTrayMenu, "mnuConfiguration", QStringLiteral("Configuration"));
    mnuSep1 = entry(mnuTrayMenu, "mnuSep1", QString());
    mnuSecConfig = entry(mnuTrayMenu, "mnuSecConfig", QStringLiteral("Security"));
    mnuSep2 = entry(mnuTrayMenu, "mnuSep2", QString());
    mnuAbout = entry(mnuTrayMenu, "mnuAbout", QStringLiteral("About"));
    mnuSep3 = entry(mnuTrayMenu, "mnuSep3", QString());
    mnuExit = entry(mnuTrayMenu, "mnuExit", QStringLiteral("Exit"));
    // Each command runs once the menu has finished with the click: the commands wait for
    // dialogs while processing events, and Exit destroys this form with its menu.
    connect(mnuConfiguration, &QAction::triggered, this, &frmClientTrayIcon::mnuConfiguration_Click, Qt::QueuedConnection);
    connect(mnuSecConfig, &QAction::triggered, this, &frmClientTrayIcon::mnuSecConfig_Click, Qt::QueuedConnection);
    connect(mnuAbout, &QAction::triggered, this, &frmClientTrayIcon::mnuAbout_Click, Qt::QueuedConnection);
    connect(mnuExit, &QAction::triggered, this, &frmClientTrayIcon::mnuExit_Click, Qt::QueuedConnection);
}

frmClientTrayIcon::~frmClientTrayIcon()
{
    g_instance.forget(this);
    if (Forms::Host() == this)
        Forms::SetHost(nullptr);
}

frmClientTrayIcon *frmClientTrayIcon::Instance()
{
    return g_instance.get();
}

frmClientTrayIcon &frmClientTrayIcon::Load()
{
    return g_instance.load();
}

void frmClientTrayIcon::SetEndProgram(std::function<void()> end)
{
    endProgram() = std::move(end);
}

void frmClientTrayIcon::Form_Load()
{
    Forms::SetHost(this);
    // The main window decides by itself what it shows; it goes first, as the icon waits for
    // the session bus.
    Forms::LoadClient();
    CreateTrayIcon(1, QStringLiteral("Veskora"));
    attachMainWindow();
}

void frmClientTrayIcon::attachMainWindow()
{
    if (QSystemTrayIcon::isSystemTrayAvailable())
        return;
    frmClient *client = Forms::Client();
    if (!client)
        return;
    client->installEventFilter(new TrayMenuStandIn(mnuTrayMenu, client));
    // Not in the status bar, whose first panel the side link rewrites at once.
    client->ShowNote(QStringLiteral("No notification area: right-click for the menu"));
}

void frmClientTrayIcon::CreateTrayIcon(qint32 imageIndex, const QString &tip)
{
    if (!trayIcon) {
        trayIcon = new QSystemTrayIcon(this);
        if (onXcb())
            statusNotifierQuestion();
        trayIcon->setObjectName(QStringLiteral("trayIcon"));
        // Queued: a double click waits for the password prompt, which must not hold up the
        // notification area that reported the click.
        connect(
            trayIcon, &QSystemTrayIcon::activated, this,
            [this](QSystemTrayIcon::ActivationReason reason) {
                if (const int code = notificationCode(reason, onStatusNotifierHost()))
                    Form_MouseMove(code);
            },
            Qt::QueuedConnection);
    }
    if (imageIndex >= 1 && imageIndex <= ImageListIcon.size())
        trayIcon->setIcon(FormLayout::Icon(ImageListIcon.at(imageIndex - 1)));
    trayIcon->setToolTip(tip.left(TipLength));
    trayIcon->show();
}

void frmClientTrayIcon::RemoveFromTray()
{
    if (trayIcon)
        trayIcon->hide();
}

void frmClientTrayIcon::RefreshMainForm()
{
    // A fresh main window starts again from the stored configuration; its load shows it.
    Forms::UnloadClient();
    Forms::LoadClient();
    attachMainWindow();
}

void frmClientTrayIcon::Form_MouseMove(int code)
{
    try {
        switch (code) {
        case WM_LBUTTONDBLCLK: {
            // A minimised session comes back from here, where no taskbar could bring it.
            frmMsRdpClient *session = Forms::MsRdpClient();
            if (session && Forms::SessionState() != SessionControl::SessionState::NotStarted && session->isMinimized()) {
                session->setWindowState(session->windowState() & ~Qt::WindowMinimized);
                session->activateWindow();
                return;
            }
            frmClient *client = Forms::Client();
            if (client && client->isVisible())
                return;
            frmClient &loaded = Forms::LoadClient();
            loaded.activateWindow();
            mnuConfiguration_Click();
            break;
        }
        case WM_RBUTTONUP:
            mnuTrayMenu->popup(QCursor::pos());
            break;
        default:
            break;
        }
    } catch (...) {
    }
}

bool frmClientTrayIcon::CheckSecurityPassword()
{
    return modSecurityPassword::CheckSecurityPassword();
}

void frmClientTrayIcon::mnuConfiguration_Click()
{
    if (!modSecurityPassword::CheckSecurityPassword())
        return;
    RefreshMainForm();
    if (frmClient *client = Forms::Client())
        client->ShowConfigurationFrame();
}

void frmClientTrayIcon::mnuSecConfig_Click()
{
    modSecurityPassword::mnuSecConfig_Click();
}

void frmClientTrayIcon::mnuAbout_Click()
{
    frmAboutClient::ShowBox();
}

void frmClientTrayIcon::mnuExit_Click()
{
    // The gate may end with this form already unloaded (a second Exit sharing the prompt).
    QPointer<frmClientTrayIcon> self(this);
    if (!modSecurityPassword::CheckSecurityPassword() || !self || g_instance.get() != self)
        return;
    if (frmClient *client = Forms::Client())
        client->CloseSideLink();
    RemoveFromTray();
    Forms::UnloadMsRdpClient();
    Forms::UnloadClient();
    // The dialogs go with the tray form: a caller still waiting for one of them would
    // otherwise keep the program from ending.
    if (frmPassDefine *dialog = frmPassDefine::Instance())
        dialog->Unload();
    if (frmEnterPassword *prompt = frmEnterPassword::Instance())
        prompt->Unload();
    if (frmAboutClient *about = frmAboutClient::Instance())
        about->close();
    g_instance.forget(this);
    if (Forms::Host() == this)
        Forms::SetHost(nullptr);
    hide();
    deleteLater();
    if (endProgram())
        endProgram()();
    else
        QCoreApplication::exit(0);
}
