#include "platform/MsgBox.h"

#include <QEvent>
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

// Closes a box once the program hides the window it stands over: a session started over the
// window, or the window rebuilt, leaves the box nothing to stand for, and it must not stay on the
// screen in front of the session. A window the desktop hides (minimised) keeps its box.
class CloseWithWindow : public QObject
{
public:
    CloseWithWindow(QMessageBox *box, QWidget *window) : QObject(box), m_box(box) { window->installEventFilter(this); }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Hide && !event->spontaneous())
            m_box->reject();
        return QObject::eventFilter(watched, event);
    }

private:
    QMessageBox *m_box;
};

} // namespace

void Show(QWidget *owner, const QString &text, int style, const QString &caption)
{
    if (handler()) {
        handler()(Call{owner, text, style, caption});
        return;
    }
    // The box may go with its window while it waits.
    const QPointer<QMessageBox> box = new QMessageBox(owner);
    box->setWindowTitle(caption);
    box->setTextFormat(Qt::PlainText);
    box->setText(text);
    box->setStandardButtons(QMessageBox::Ok);
    box->setIcon((style & 0x70) == Exclamation ? QMessageBox::Warning : QMessageBox::NoIcon);
    // It blocks its own window only: the program's other windows (a session opened meanwhile
    // above all) keep their keyboard and mouse.
    if (owner) {
        box->setWindowModality(Qt::WindowModal);
        new CloseWithWindow(box, owner->window());
    }
    const QPointer<QWidget> back(owner);
    box->exec();
    delete box.data();
    // Without a window manager nobody hands the keyboard back to the window the box covered.
    if (back && back->isVisible())
        back->window()->activateWindow();
}

void SetHandler(Handler h)
{
    handler() = std::move(h);
}

} // namespace MsgBox
