#include "client/ModuleSessionControl.h"

#include "platform/ErrorNumbers.h"

#include <QCoreApplication>
#include <QFile>

#include <dlfcn.h>

namespace {

using CreateControl = SessionControl *(*)(QWidget *parent);

// The module's entry point, loaded once and kept: the remote desktop libraries cannot be
// unloaded safely. A failed load is tried again at the next session, so that a module
// installed meanwhile is found.
CreateControl entryPoint()
{
    static CreateControl create = nullptr;
    if (create)
        return create;
    const QString path = ModuleSessionControl::ModulePath().isEmpty()
        ? QCoreApplication::applicationDirPath() + QStringLiteral("/libveskora-session.so")
        : ModuleSessionControl::ModulePath();
    // Every symbol bound now, so that a module that does not fit the program fails here, with
    // the reason; global, so that the module's replacements of library functions stay ahead of
    // the library's own for whatever is loaded after it.
    void *module = dlopen(QFile::encodeName(path).constData(), RTLD_NOW | RTLD_GLOBAL);
    create = module ? reinterpret_cast<CreateControl>(dlsym(module, "veskora_create_session_control")) : nullptr;
    if (!create)
        throw VbError(ErrorNumbers::ModuleNotLoaded.number,
                      QStringLiteral("%1: %2").arg(QLatin1String(ErrorNumbers::ModuleNotLoaded.description),
                                                   QString::fromLocal8Bit(dlerror())));
    return create;
}

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
        m_control = entryPoint()(self);
        m_control->setGeometry(rect());
        m_control->show();
        self->setFocusProxy(m_control);
        connect(m_control, &SessionControl::OnConnected, self, &SessionControl::OnConnected);
        connect(m_control, &SessionControl::OnDisconnected, self, &SessionControl::OnDisconnected);
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
