#include "client/ModuleSessionControl.h"

#include "platform/ErrorNumbers.h"
#include "system/ResidentPages.h"

#include <QCoreApplication>
#include <QFile>
#include <QTimer>

#include <dlfcn.h>
#include <malloc.h>
#include <optional>
#include <utility>

namespace {

using CreateControl = SessionControl *(*)(QWidget *parent);

// The session module, loaded for the first control that needs it and unloaded once its last
// control is gone: the remote desktop libraries it brings take some 25 MB that a panel between
// sessions has no use for. A failed load is tried again at the next session, so that a module
// installed meanwhile is found.
class SessionModule
{
public:
    static SessionModule &instance()
    {
        static SessionModule module;
        return module;
    }

    SessionControl *create(QWidget *parent)
    {
        load();
        SessionControl *control = m_create(parent);
        ++m_controls;
        // Unloaded later, from the event loop: the control's own code is still running when
        // it is destroyed.
        QObject::connect(control, &QObject::destroyed, [this] {
            if (--m_controls == 0)
                QTimer::singleShot(0, [this] { unloadUnused(); });
        });
        return control;
    }

    // Once a session is established the main window is gone until it ends: the pages of the
    // toolkit's code and constants that built and drew it (some 25 MB) go too, and a fault
    // brings back what the session's window or the main window runs again. Only the program's
    // own files, which no thread but this one maps or unmaps.
    void sessionEstablished() { ResidentPages::Release(*m_programFiles, ResidentPages::Which::Listed); }

private:
    void load()
    {
        if (m_handle)
            return;
        if (!m_programFiles)
            m_programFiles = ResidentPages::MappedFiles();
        // Three of the libraries it brings stay from the first session on, as they cannot be
        // loaded again without a loss: WinPR makes thread-local keys anew each time and never
        // gives them back (the process would run out of them after some hundred sessions),
        // ALSA reads its whole configuration anew and keeps the old one, pixman makes its
        // drawing routines anew (10 KB) and never frees them. They are loaded ahead of the
        // module and on their own, so that they bind none of the module's functions, which
        // would keep it (and so everything) loaded too.
        for (const char *library : {"libwinpr2.so.2", "libasound.so.2", "libpixman-1.so.0"})
            dlopen(library, RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
        const QString path = ModuleSessionControl::ModulePath().isEmpty()
            ? QCoreApplication::applicationDirPath() + QStringLiteral("/libveskora-session.so")
            : ModuleSessionControl::ModulePath();
        // Every symbol bound now, so that a module that does not fit the program fails here,
        // with the reason. Local, so that the module's replacements of library functions (see
        // RdpLibraryOverrides.cpp) come before the library's own for the libraries it brings,
        // and for those alone.
        void *handle = dlopen(QFile::encodeName(path).constData(),
                              RTLD_NOW | RTLD_LOCAL | (ModuleSessionControl::ModuleStays ? RTLD_NODELETE : 0));
        auto create = handle ? reinterpret_cast<CreateControl>(dlsym(handle, "veskora_create_session_control")) : nullptr;
        if (!create) {
            const QString reason = QString::fromLocal8Bit(dlerror());
            if (handle)
                dlclose(handle);
            throw VbError(ErrorNumbers::ModuleNotLoaded.number,
                          QStringLiteral("%1: %2").arg(QLatin1String(ErrorNumbers::ModuleNotLoaded.description), reason));
        }
        m_handle = handle;
        m_create = create;
    }

    void unloadUnused()
    {
        // What the last control left to be deleted goes before the code it needs.
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        if (m_controls > 0 || !m_handle)
            return;
        dlclose(std::exchange(m_handle, nullptr));
        m_create = nullptr;
        // The session's threads have left free memory in their heaps.
        malloc_trim(0);
        // The libraries that stay (those above, and those that pin themselves: OpenSSL,
        // PulseAudio, GLib's types, a C++ codec the loader holds on to) keep some 9 MB of code
        // and constants mapped that the panel runs no more until the next session.
        ResidentPages::Release(*m_programFiles, ResidentPages::Which::Unlisted);
    }

    void *m_handle = nullptr;
    CreateControl m_create = nullptr;
    int m_controls = 0;
    // What the program maps before its first session: its own files, left alone.
    std::optional<QSet<QString>> m_programFiles;
};

} // namespace

ModuleSessionControl::ModuleSessionControl(QWidget *parent) : SessionControl(parent) {}

QString &ModuleSessionControl::ModulePath()
{
    static QString path;
    return path;
}

SessionControl &ModuleSessionControl::control() const
{
    if (!m_control) {
        auto *self = const_cast<ModuleSessionControl *>(this);
        m_control = SessionModule::instance().create(self);
        m_control->setGeometry(rect());
        m_control->show();
        self->setFocusProxy(m_control);
        // Its state is this control's, as its events are.
        connect(m_control, &SessionControl::StateChanged, self, [self](SessionState state) { self->setState(state); });
        connect(m_control, &SessionControl::OnConnected, self, &SessionControl::OnConnected);
        // After the forms have handled it.
        connect(m_control, &SessionControl::OnConnected, self, [] { SessionModule::instance().sessionEstablished(); },
                Qt::QueuedConnection);
        connect(m_control, &SessionControl::OnDisconnected, self, &SessionControl::OnDisconnected);
        // Its session over, the control is done with: the next session gets a fresh one, and
        // the module may go meanwhile.
        connect(m_control, &SessionControl::OnDisconnected, self, [self] {
            self->setFocusProxy(nullptr);
            std::exchange(self->m_control, nullptr)->deleteLater();
        });
    }
    return *m_control;
}

void ModuleSessionControl::NotifyRedirectDeviceChange(quint32 wParam, qint32 lParam)
{
    if (!m_control)
        ErrorNumbers::raise(ErrorNumbers::InvalidCall);
    m_control->NotifyRedirectDeviceChange(wParam, lParam);
}

void ModuleSessionControl::Disconnect()
{
    if (m_control)
        m_control->Disconnect();
}

void ModuleSessionControl::resizeEvent(QResizeEvent *event)
{
    SessionControl::resizeEvent(event);
    if (m_control)
        m_control->setGeometry(rect());
}
