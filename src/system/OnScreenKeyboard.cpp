#include "system/OnScreenKeyboard.h"

#include <QGuiApplication>
#include <QProcess>
#include <QStandardPaths>

namespace OnScreenKeyboard {

namespace {
QString &program()
{
    static QString p; // empty: the default
    return p;
}
} // namespace

QString DefaultProgram()
{
    return QGuiApplication::platformName().startsWith(QLatin1String("wayland")) ? QStringLiteral("wvkbd-mobintl")
                                                                                 : QStringLiteral("onboard");
}

QString Program()
{
    return program().isEmpty() ? DefaultProgram() : program();
}

void SetProgram(const QString &name)
{
    program() = name;
}

bool Start(QString *error)
{
    const QString name = Program();
    // A bare name is looked up on the search path; QProcess would also try the working
    // directory, which a panel must not do.
    const QString path = name.contains(QLatin1Char('/')) ? name : QStandardPaths::findExecutable(name);
    if (path.isEmpty()) {
        if (error)
            *error = QStringLiteral("%1 was not found").arg(name);
        return false;
    }
    QProcess process;
    process.setProgram(path);
    process.setArguments({});
    process.setStandardInputFile(QProcess::nullDevice());
    process.setStandardOutputFile(QProcess::nullDevice());
    process.setStandardErrorFile(QProcess::nullDevice());
    if (!process.startDetached()) {
        if (error)
            *error = QStringLiteral("%1: %2").arg(name, process.errorString());
        return false;
    }
    return true;
}

} // namespace OnScreenKeyboard
