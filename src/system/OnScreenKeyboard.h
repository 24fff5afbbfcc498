#pragma once

#include <QString>

// The desktop's on-screen keyboard, started as a program of its own.
namespace OnScreenKeyboard {

inline const QString DefaultProgram = QStringLiteral("onboard");

// The program started: a name looked up on the search path, or a path.
QString Program();
// Replaces the program (tests); an empty name restores the default.
void SetProgram(const QString &program);

// Starts the program detached, without arguments, and returns at once: true when it was
// started. Otherwise error tells why.
bool Start(QString *error = nullptr);

} // namespace OnScreenKeyboard
