// One session of the panel's session control per process, for bench_rdp: connects at once to
// SERVER as USER (the password is read from standard input), shows the session in a window of
// WIDTHxHEIGHT at the screen's top left corner and runs until the session ends or the process
// is terminated. Settings as the panel gives them with its boxes unticked: no compression, no
// persistent bitmap cache, performance flags 0, no redirection, no connection bar.
//
//   bench_session SERVER USER WIDTHxHEIGHT
#include "rdp/FreeRdpSessionControl.h"

#include <QApplication>
#include <QTextStream>

#include <cstdio>
#include <memory>

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    const QStringList arguments = QApplication::arguments();
    const QStringList size = arguments.value(3).split(u'x');
    if (arguments.size() != 4 || size.size() != 2) {
        std::fprintf(stderr, "usage: bench_session SERVER USER WIDTHxHEIGHT (password on standard input)\n");
        return 2;
    }
    const QString password = QTextStream(stdin).readLine();

    std::unique_ptr<SessionControl> control = std::make_unique<FreeRdpSessionControl>();
    control->setServer(arguments.at(1));
    control->setUserName(arguments.at(2));
    control->NonScriptable()->setClearTextPassword(password);
    control->setDesktopWidth(size.at(0).toInt());
    control->setDesktopHeight(size.at(1).toInt());
    control->SecuredSettings()->setFullScreen(0);
    IMsRdpClientAdvancedSettings2 *advanced = control->AdvancedSettings3();
    advanced->setCompress(0);
    advanced->setBitmapPeristence(0);
    advanced->setPerformanceFlags(0);
    advanced->setDisplayConnectionBar(false);
    control->setGeometry(0, 0, size.at(0).toInt(), size.at(1).toInt());
    control->show();
    QObject::connect(control.get(), &SessionControl::OnDisconnected, &app,
                     [](qint32 reason) { QCoreApplication::exit(reason == FreeRdpSessionControl::ReasonLocal ? 0 : 1); });
    control->Connect();
    return QApplication::exec();
}
