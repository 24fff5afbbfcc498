#include "system/modSystemBasic.h"

#include <QApplication>
#include <QCloseEvent>
#include <QGuiApplication>
#include <QScreen>
#include <QStyle>
#include <QWidget>

namespace modSystemBasic {

namespace {

const char *const kCloseGuardName = "veskoraCloseGuard";

// Refuses every close request to the window it watches. Forms are unloaded by deleting
// them, which this does not stop.
class CloseGuard : public QObject
{
public:
    explicit CloseGuard(QWidget *window) : QObject(window)
    {
        setObjectName(QLatin1String(kCloseGuardName));
        window->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Close && watched == parent()) {
            event->ignore();
            return true;
        }
        return QObject::eventFilter(watched, event);
    }
};

// Changing window flags re-creates the native window and hides it; put it back where it was.
void setFlagsKeepingPlace(QWidget *window, Qt::WindowFlags flags)
{
    if (window->windowFlags() == flags)
        return;
    const bool visible = window->isVisible();
    const QRect geometry = window->geometry();
    window->setWindowFlags(flags);
    window->setGeometry(geometry);
    if (visible)
        window->show();
}

QScreen *primaryScreen()
{
    return qobject_cast<QGuiApplication *>(QCoreApplication::instance()) ? QGuiApplication::primaryScreen()
                                                                        : nullptr;
}

int twipsPerPixel(qreal dpi)
{
    if (dpi <= 0)
        return 15;
    return qMax(1, qRound(1440.0 / dpi));
}

} // namespace

void SetFormOnTop(QWidget *window)
{
    if (!window)
        return;
    setFlagsKeepingPlace(window, window->windowFlags() | Qt::WindowStaysOnTopHint);
}

void RemoveCloseMenu(QWidget *window)
{
    if (!window)
        return;
    // On Windows 95 the system menu was left alone.
    if (GetWindowsVersion() == 1)
        return;
    if (IsCloseRemoved(window))
        return;

    Qt::WindowFlags flags = window->windowFlags();
    if (!(flags & Qt::CustomizeWindowHint)) {
        // Customising drops every decoration not named, so name the usual ones.
        flags |= Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint
                 | Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint;
    }
    flags &= ~Qt::WindowCloseButtonHint;
    setFlagsKeepingPlace(window, flags);
    new CloseGuard(window);
}

bool IsCloseRemoved(const QWidget *window)
{
    return window && window->findChild<QObject *>(QLatin1String(kCloseGuardName), Qt::FindDirectChildrenOnly);
}

qint32 GetTitleBarHeight()
{
    QStyle *style = qobject_cast<QApplication *>(QCoreApplication::instance()) ? QApplication::style() : nullptr;
    if (!style)
        return 0;
    const int caption = style->pixelMetric(QStyle::PM_TitleBarHeight);
    const int frame = style->pixelMetric(QStyle::PM_MdiSubWindowFrameWidth);
    return caption + frame + 1;
}

int TwipsPerPixelX()
{
    QScreen *screen = primaryScreen();
    return screen ? twipsPerPixel(screen->logicalDotsPerInchX()) : 15;
}

int TwipsPerPixelY()
{
    QScreen *screen = primaryScreen();
    return screen ? twipsPerPixel(screen->logicalDotsPerInchY()) : 15;
}

int TwipsToPixelsX(int twips)
{
    return qRound(twips / double(TwipsPerPixelX()));
}

int TwipsToPixelsY(int twips)
{
    return qRound(twips / double(TwipsPerPixelY()));
}

qint32 GetScreenWidth()
{
    QScreen *screen = primaryScreen();
    return screen ? screen->geometry().width() * TwipsPerPixelX() : 0;
}

qint32 GetScreenHeight()
{
    QScreen *screen = primaryScreen();
    return screen ? screen->geometry().height() * TwipsPerPixelY() : 0;
}

} // namespace modSystemBasic
