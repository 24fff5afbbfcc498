#include "rdp/RdpFrame.h"
#include "rdp/RdpX11.h"

#include <QPainter>
#include <QRegion>

#include <cstring>

RdpFrame::RdpFrame() = default;
RdpFrame::~RdpFrame() = default;

namespace {
QImage sharedImage(uchar *memory, const QSize &size)
{
    return QImage(memory, size.width(), size.height(), size.width() * 4, QImage::Format_RGB32);
}
} // namespace

bool RdpFrame::setWindow(std::unique_ptr<RdpX11::WindowImage> window)
{
    std::lock_guard lock(m_mutex);
    // The picture leaves the shared memory of a window before that window goes, and moves into
    // the new one's.
    QImage picture = m_shared ? m_image.copy() : std::move(m_image);
    m_image = QImage();
    m_window = std::move(window);
    if (uchar *shared = share(picture.size())) {
        m_image = sharedImage(shared, picture.size());
        memcpy(m_image.bits(), picture.constBits(), size_t(picture.sizeInBytes()));
    } else {
        m_image = std::move(picture);
    }
    return m_shared;
}

uchar *RdpFrame::share(const QSize &size)
{
    uchar *shared = m_window && !size.isEmpty() ? m_window->share(size.width(), size.height()) : nullptr;
    m_shared = shared != nullptr;
    return shared;
}

QImage RdpFrame::newImage(const QSize &size)
{
    uchar *shared = share(size);
    return shared ? sharedImage(shared, size) : QImage(size, QImage::Format_RGB32);
}

void RdpFrame::present(const QRect &area)
{
    std::lock_guard lock(m_mutex);
    const QRect r = area & m_image.rect();
    if (m_window && !r.isEmpty())
        m_window->put(m_image.constBits(), m_image.bytesPerLine(), r.x(), r.y(), r.width(), r.height());
}

void RdpFrame::reset(const QSize &size)
{
    std::lock_guard lock(m_mutex);
    m_image = newImage(size);
    m_image.fill(Qt::black);
    m_damaged = QRect();
    m_updatePosted = false;
}

bool RdpFrame::write(const uchar *pixels, qsizetype stride, const QSize &size, const QRect &rect)
{
    std::lock_guard lock(m_mutex);
    QRect r = rect;
    if (m_image.size() != size) {
        m_image = newImage(size);
        r = m_image.rect();
    }
    r &= m_image.rect();
    if (r.isEmpty())
        return false;
    // Through the connection the screen comes first: the copy kept for the widget can wait. The
    // shared picture is written once the server has read what was put from it, and put then.
    if (m_window && !m_shared)
        m_window->put(pixels, stride, r.x(), r.y(), r.width(), r.height());
    if (m_shared)
        m_window->waitUntilRead();
    const size_t bytes = size_t(r.width()) * 4;
    for (int y = r.top(); y <= r.bottom(); ++y)
        memcpy(m_image.scanLine(y) + r.left() * 4, pixels + y * stride + r.left() * 4, bytes);
    if (m_shared)
        m_window->put(m_image.constBits(), m_image.bytesPerLine(), r.x(), r.y(), r.width(), r.height());
    if (m_window)
        return false;
    m_damaged |= r;
    return !std::exchange(m_updatePosted, true);
}

QRect RdpFrame::takeDamage()
{
    std::lock_guard lock(m_mutex);
    m_updatePosted = false;
    return std::exchange(m_damaged, QRect());
}

QImage RdpFrame::image() const
{
    std::lock_guard lock(m_mutex);
    return m_image.copy();
}

QSize RdpFrame::size() const
{
    std::lock_guard lock(m_mutex);
    return m_image.size();
}

void RdpFrame::paint(QPainter &painter, const QRect &area) const
{
    std::lock_guard lock(m_mutex);
    const QRect shown = area & m_image.rect();
    if (!shown.isEmpty())
        painter.drawImage(shown.topLeft(), m_image, shown);
    for (const QRect &r : QRegion(area) - m_image.rect())
        painter.fillRect(r, Qt::black);
}
