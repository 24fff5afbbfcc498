#include "platform/MsgBox.h"

#include <QMessageBox>
#include <QPointer>
#include <QWidget>

namespace MsgBox {

namespace {
Handler &handler()
{
    static Handler h;
    return h;
}
} // namespace

void Show(QWidget *owner, const QString &text, int style, const QString &caption)
{
    if (handler()) {
        handler()(Call{owner, text, style, caption});
        return;
    }
    QMessageBox box(owner);
    box.setWindowTitle(caption);
    box.setTextFormat(Qt::PlainText);
    box.setText(text);
    box.setStandardButtons(QMessageBox::Ok);
    box.setIcon((style & 0x70) == Exclamation ? QMessageBox::Warning : QMessageBox::NoIcon);
    const QPointer<QWidget> back(owner);
    box.exec();
    // Without a window manager nobody hands the keyboard back to the window the box covered.
    if (back && back->isVisible())
        back->window()->activateWindow();
}

void SetHandler(Handler h)
{
    handler() = std::move(h);
}

} // namespace MsgBox
