#include "RecordingSessionControl.h"

#include "client/SessionControlFactory.h"
#include "platform/ErrorNumbers.h"

RecordingSessionControl::RecordingSessionControl(QWidget *parent) : SessionControl(parent)
{
    instances().append(this);
}

RecordingSessionControl::~RecordingSessionControl()
{
    for (auto &p : instances())
        if (p == this)
            p = nullptr;
}

QList<RecordingSessionControl *> &RecordingSessionControl::instances()
{
    static QList<RecordingSessionControl *> list;
    return list;
}

RecordingSessionControl *RecordingSessionControl::last()
{
    return instances().isEmpty() ? nullptr : instances().constLast();
}

void RecordingSessionControl::install()
{
    instances().clear();
    SessionControlFactory::Set([](QWidget *parent) { return new RecordingSessionControl(parent); });
}

QStringList RecordingSessionControl::callNames() const
{
    QStringList names;
    for (const Call &c : calls)
        names << c.first;
    return names;
}

QVariant RecordingSessionControl::lastValue(const QString &name) const
{
    for (auto it = calls.crbegin(); it != calls.crend(); ++it)
        if (it->first == name)
            return it->second;
    return {};
}

void RecordingSessionControl::checkRefused(const QString &name)
{
    if (name == refuseSetting)
        ErrorNumbers::raise(ErrorNumbers::InvalidPropertyValue);
}

void RecordingSessionControl::setClearTextPassword(const QString &value)
{
    checkRefused(QStringLiteral("ClearTextPassword"));
    calls.append({QStringLiteral("ClearTextPassword"), value});
    m_password = value;
}

void RecordingSessionControl::NotifyRedirectDeviceChange(quint32 wParam, qint32 lParam)
{
    calls.append({QStringLiteral("NotifyRedirectDeviceChange"), QVariantList{wParam, lParam}});
    if (notifyError)
        throw VbError(notifyError, QStringLiteral("no session"));
}

void RecordingSessionControl::Connect()
{
    calls.append({QStringLiteral("Connect"), {}});
}

void RecordingSessionControl::setVisible(bool visible)
{
    calls.append({QStringLiteral("Visible"), visible});
    SessionControl::setVisible(visible);
}
