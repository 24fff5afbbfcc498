#pragma once

#include <QString>
#include <QStringList>
#include <functional>

// The entry procedure: single instance, command line, usage text, start of the client.
namespace modStartClient {

// The program's entry procedure. Returns at once when another instance of the same program
// runs; otherwise handles the command line. The program lives on only when the tray form
// has been loaded.
void Main();

// The words of the program's argument string, blanks and tabs separating them, at most
// maxWords of them; index 0 is always empty, the words follow from index 1.
QStringList SplitCommandLine(int maxWords = 10);
QStringList SplitCommandLine(const QString &arguments, int maxWords = 10);

// Handles the words 1 to N of gCommandArgs in order.
void ProcessSwitches();
// Shows the usage box and returns when it has been closed.
void ShowUsage();
// InitClientGlobals, then the load of the tray form.
void StartClient();
// The paths beside the program and the start values of the globals.
void InitClientGlobals();

// The usage text, its lines joined with CR LF.
QString UsageText();
// The program's file name without directory and extension.
QString ProgramName();

// The argument string as the platform would hand it over: the words after the program's
// name, joined with one blank each.
QString JoinArguments(const QStringList &argv);
// The program's argument string, set by main from the process's own arguments before the
// toolkit has seen them; empty until then.
QString ArgumentString();
void SetArgumentString(const QString &arguments);

// What StartClient loads; empty: the real tray form.
using TrayLoader = std::function<void()>;
void SetTrayLoader(TrayLoader loader);

// The single-instance lock of the program file at programFilePath, named after the path: in
// the user's runtime directory, or without one in a directory of the user's own below the
// cache directory (created here), never where another account could make it. Empty when there
// is no such directory.
QString InstanceLockPath(const QString &programFilePath);
// Takes the lock of the running program for the rest of the run. False when another
// instance holds it; true as well when it is already ours.
bool AcquireInstanceLock();

} // namespace modStartClient
