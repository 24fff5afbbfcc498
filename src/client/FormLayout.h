#pragma once

#include "system/modSystemBasic.h"

#include <QFont>
#include <QGuiApplication>
#include <QIcon>
#include <QImageReader>
#include <QPixmap>
#include <QScreen>
#include <QWidget>

// How the forms lay out their controls, whose measures are given in twips.
namespace FormLayout {

inline QSize TwipsSize(int width, int height)
{
    return QSize(modSystemBasic::TwipsToPixelsX(width), modSystemBasic::TwipsToPixelsY(height));
}

inline void Place(QWidget *control, int left, int top, int width, int height)
{
    control->setGeometry(QRect(QPoint(modSystemBasic::TwipsToPixelsX(left), modSystemBasic::TwipsToPixelsY(top)),
                               TwipsSize(width, height)));
}

// Arial, as the forms were drawn: 8.25 point regular, the large buttons 9.75 point bold.
inline QFont Arial(qreal points = 8.25, bool bold = false)
{
    QFont font(QStringLiteral("Arial"));
    font.setPointSizeF(points);
    font.setBold(bold);
    return font;
}

// Moves a top-level window so that it stands in the middle of its screen.
inline void CenterOnScreen(QWidget *window)
{
    QScreen *screen = window->screen() ? window->screen() : QGuiApplication::primaryScreen();
    if (!screen)
        return;
    const QRect area = screen->geometry();
    window->move(area.x() + (area.width() - window->width()) / 2, area.y() + (area.height() - window->height()) / 2);
}

// A fixed-size dialog frame with a title and a close box, no minimize or maximize button.
inline constexpr Qt::WindowFlags FixedDialogFlags = Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint
                                                    | Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint;

// The program's pictures, XPM files among its resources, read as such: left to find the format
// (even one it is told), the toolkit would load every image format plugin it has to ask them.
inline QPixmap Picture(const QString &file)
{
    QImageReader reader(file, "xpm");
    reader.setAutoDetectImageFormat(false);
    return QPixmap::fromImage(reader.read());
}

inline QIcon Icon(const QString &file)
{
    return QIcon(Picture(file));
}

// Password fields show one "*" per character, whatever the style would draw.
inline const QString PasswordFieldStyle = QStringLiteral("QLineEdit { lineedit-password-character: 42; }");

} // namespace FormLayout
