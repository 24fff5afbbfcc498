#pragma once

#include <QString>
#include <functional>

class QWidget;

// Message boxes of the program. Every box goes through MsgBox so that tests can answer
// it instead of a person.
namespace MsgBox {

inline const QString AppTitle = QStringLiteral("Torvane_Veskora");

enum Style : int {
    OkOnly = 0x00,
    Exclamation = 0x30,
};

struct Call
{
    QWidget *owner;
    QString text;
    int style;
    QString caption;
};

// Shows a box with an OK button and returns when it is closed. It blocks its owner's window
// only, and closes when the program hides that window.
void Show(QWidget *owner, const QString &text, int style = OkOnly, const QString &caption = AppTitle);

// Replaces the real box, for tests; an empty handler restores it.
using Handler = std::function<void(const Call &)>;
void SetHandler(Handler handler);

} // namespace MsgBox
