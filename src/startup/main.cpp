#include "Version.h"
#include "client/FormLayout.h"
#include "client/ModuleSessionControl.h"
#include "client/SessionControlFactory.h"
#include "shell/frmClientTrayIcon.h"
#include "startup/modStartClient.h"

#include <QApplication>
#include <QFontInfo>

#include <fontconfig/fontconfig.h>
#include <future>
#include <malloc.h>
#include <thread>

int main(int argc, char *argv[])
{
    // Large blocks (a session's pictures and buffers) are mapped on their own and go back to the
    // system when freed. Left to itself the allocator raises that limit to the largest block
    // freed so far, and every later session's buffers stay behind in the heap.
    mallopt(M_MMAP_THRESHOLD, 128 * 1024);
    // Reading the font configuration and listing the fonts are nearly half of the start, and the
    // main window is the first to need them: they are done beside the toolkit's own start and
    // the tray icon's, the forms' font resolved once the toolkit is up.
    std::promise<void> toolkitUp;
    std::thread fonts([up = toolkitUp.get_future()] {
        FcInit();
        up.wait();
        QFontInfo(FormLayout::Arial()).family();
    });
    // Every word after the program's name is the program's own: the toolkit is given the name
    // alone, so it neither takes words such as -style or -reverse away nor acts on them.
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    static char fallbackName[] = "Veskora";
    char *toolkitArgv[] = {argc > 0 ? argv[0] : fallbackName, nullptr};
    int toolkitArgc = 1;
    QApplication app(toolkitArgc, toolkitArgv);
    toolkitUp.set_value();
    QApplication::setApplicationName(QStringLiteral("Veskora"));
    QApplication::setApplicationVersion(QString::fromLatin1(Version::Text));
    // The hidden tray form keeps the program alive, also while no window is open.
    QApplication::setQuitOnLastWindowClosed(false);

    // Every session window gets a real remote desktop client, from the session module once a
    // session is prepared.
    SessionControlFactory::Set([](QWidget *parent) { return new ModuleSessionControl(parent); });

    modStartClient::SetArgumentString(modStartClient::JoinArguments(arguments));
    modStartClient::Main();
    fonts.join();

    // Without the tray form nothing was started: the program ends.
    if (!frmClientTrayIcon::Instance())
        return 0;
    return QApplication::exec();
}
