#include "Version.h"
#include "client/SessionControlFactory.h"
#include "rdp/FreeRdpSessionControl.h"
#include "shell/frmClientTrayIcon.h"
#include "startup/modStartClient.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Veskora"));
    QApplication::setApplicationVersion(QString::fromLatin1(Version::Text));
    // The hidden tray form keeps the program alive, also while no window is open.
    QApplication::setQuitOnLastWindowClosed(false);

    // Every session window gets a real remote desktop client.
    SessionControlFactory::Set([](QWidget *parent) { return new FreeRdpSessionControl(parent); });

    modStartClient::Main();

    // Without the tray form nothing was started: the program ends.
    if (!frmClientTrayIcon::Instance())
        return 0;
    return QApplication::exec();
}
