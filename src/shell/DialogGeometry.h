#pragma once

#include "system/modSystemBasic.h"

#include <QFont>
#include <QGuiApplication>
#include <QRect>
#include <QScreen>
#include <QSize>
#include <QWidget>

// Layout helpers of the small dialogs, whose measures are given in twips.
namespace DialogGeometry {

inline int toPixelsX(int twips)
{
    const int tpp = modSystemBasic::TwipsPerPixelX();
    return tpp > 0 ? (twips + tpp / 2) / tpp : twips / 15;
}

inline int toPixelsY(int twips)
{
    const int tpp = modSystemBasic::TwipsPerPixelY();
    return tpp > 0 ? (twips + tpp / 2) / tpp : twips / 15;
}

inline QRect twipsRect(int left, int top, int width, int height)
{
    return QRect(toPixelsX(left), toPixelsY(top), toPixelsX(width), toPixelsY(height));
}

inline QSize twipsSize(int width, int height)
{
    return QSize(toPixelsX(width), toPixelsY(height));
}

inline void place(QWidget *control, int left, int top, int width, int height)
{
    control->setGeometry(twipsRect(left, top, width, height));
}

// Arial 8.25 point, regular, as the dialogs were drawn.
inline QFont dialogFont()
{
    QFont font(QStringLiteral("Arial"));
    font.setPointSizeF(8.25);
    return font;
}

// Moves a top-level window so that its client area sits in the middle of its screen.
inline void centerOnScreen(QWidget *window)
{
    QScreen *screen = window->screen();
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    if (!screen)
        return;
    const QRect area = screen->geometry();
    const QSize size = window->size();
    window->move(area.x() + (area.width() - size.width()) / 2, area.y() + (area.height() - size.height()) / 2);
}

// Fixed-size dialog frame with a title and a close box, no minimize or maximize button.
inline constexpr Qt::WindowFlags FixedDialogFlags = Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint
                                                    | Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint;

// Password fields show one "*" per character.
inline const QString PasswordFieldStyle = QStringLiteral("QLineEdit { lineedit-password-character: 42; }");

} // namespace DialogGeometry
