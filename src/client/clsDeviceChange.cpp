#include "client/clsDeviceChange.h"

#include "system/RemovableMedia.h"

#include <QVariant>

clsDeviceChange::clsDeviceChange() = default;

clsDeviceChange::~clsDeviceChange()
{
    UnSubClass();
}

void clsDeviceChange::SubClass(QWidget *hWnd)
{
    // One window per watcher, one watcher per window.
    if (!hWnd || m_hWndMonitored)
        return;
    if (modDeviceChange::MonitorFromWindow(hWnd))
        return;
    hWnd->setProperty(MarkerProperty, QVariant::fromValue(QPointer<QObject>(this)));
    if (modDeviceChange::MonitorFromWindow(hWnd) != this)
        return;
    m_hWndMonitored = hWnd;
    // The system's source of device-change messages: removable storage coming and going.
    m_source = std::make_unique<RemovableMedia::Watcher>();
    const auto deliver = [this](quint32 wParam) {
        return [this, wParam](qint32 lParam) {
            if (QWidget *w = m_hWndMonitored.data())
                modDeviceChange::DeviceChangeProc(w, WM_DEVICECHANGE, wParam, lParam);
        };
    };
    connect(m_source.get(), &RemovableMedia::Watcher::arrived, this, deliver(DBT_DEVICEARRIVAL));
    connect(m_source.get(), &RemovableMedia::Watcher::removed, this, deliver(DBT_DEVICEREMOVECOMPLETE));
}

qint32 clsDeviceChange::WindowProc(QWidget *hWnd, quint32 uMsg, quint32 wParam, qint32 lParam)
{
    Q_UNUSED(hWnd);
    if (uMsg == WM_DEVICECHANGE && (wParam == DBT_DEVICEARRIVAL || wParam == DBT_DEVICEREMOVECOMPLETE))
        emit DeviceChanged(wParam, lParam);
    // A Qt window has no earlier window procedure to pass the message to; 0 is its answer.
    return 0;
}

void clsDeviceChange::UnSubClass()
{
    // Stop the messages first: once the marker is gone none may arrive.
    m_source.reset();
    QWidget *w = m_hWndMonitored.data();
    if (!w)
        return;
    if (modDeviceChange::MonitorFromWindow(w) == this)
        w->setProperty(MarkerProperty, QVariant());
    m_hWndMonitored = nullptr;
}

namespace modDeviceChange {

qint32 DeviceChangeProc(QWidget *hWnd, quint32 uMsg, quint32 wParam, qint32 lParam)
{
    clsDeviceChange *monitor = MonitorFromWindow(hWnd);
    if (!monitor)
        return 0;
    return monitor->WindowProc(hWnd, uMsg, wParam, lParam);
}

clsDeviceChange *MonitorFromWindow(QWidget *hWnd)
{
    if (!hWnd)
        return nullptr;
    const QVariant marker = hWnd->property(clsDeviceChange::MarkerProperty);
    if (!marker.canConvert<QPointer<QObject>>())
        return nullptr;
    return qobject_cast<clsDeviceChange *>(marker.value<QPointer<QObject>>().data());
}

} // namespace modDeviceChange
