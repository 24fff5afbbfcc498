#include "system/modSystemBasic.h"

// Not built yet.
namespace modSystemBasic {
void SetFormOnTop(QWidget *) {}
void RemoveCloseMenu(QWidget *) {}
bool IsCloseRemoved(const QWidget *) { return false; }
qint32 GetTitleBarHeight() { return 0; }
qint32 GetScreenWidth() { return 0; }
qint32 GetScreenHeight() { return 0; }
int TwipsPerPixelX() { return 15; }
int TwipsPerPixelY() { return 15; }
} // namespace modSystemBasic
