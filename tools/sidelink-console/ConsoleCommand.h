#pragma once

#include <QString>
#include <QStringList>

// One line typed into the side-link console, taken apart. A line that cannot be carried out
// gives an error text and nothing else, so a typing mistake never sends anything.
struct ConsoleCommand
{
    enum class Kind {
        Nothing, // empty line or comment
        Send,    // send the frames to every connected panel
        Close,   // close the link to every panel
        Auto,    // sign of life every `seconds` (0: off)
        Grant,   // answer the panel's requests by itself, or stop doing so
        Panels,  // list the connected panels
        Help,
        Quit,
    };

    Kind kind = Kind::Nothing;
    QStringList frames; // Send: in the order they go out
    int seconds = 0;    // Auto
    QString request;    // Grant: "connect" or "exit"
    bool on = false;    // Grant
    QString error;      // not empty: the line is refused

    bool ok() const { return error.isEmpty(); }
};

namespace ConsoleCommands {

ConsoleCommand Parse(const QString &line);

// The words the console understands, for "help" and --help.
QString Help();

// Frames the console builds.
QString SignOfLifeFrame(qint32 argument = 0);
QString ConnectFrame(qint32 profile);
QString ExitFrame(qint32 mode);

} // namespace ConsoleCommands
