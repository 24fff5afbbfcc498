#include "shell/frmClientTrayIcon.h"
#include "startup/modStartClient.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    // The hidden tray form keeps the program alive, also while no window is open.
    QApplication::setQuitOnLastWindowClosed(false);

    // ---- Session control -------------------------------------------------------------------
    // The session control that every session window gets is installed here, before the first
    // form is loaded:
    //     SessionControlFactory::Set([](QWidget *parent) { return new FreeRdpSessionControl(parent); });
    // ----------------------------------------------------------------------------------------

    modStartClient::Main();

    // Without the tray form nothing was started: the program ends.
    if (!frmClientTrayIcon::Instance())
        return 0;
    return QApplication::exec();
}
