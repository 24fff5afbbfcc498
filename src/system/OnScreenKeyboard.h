#pragma once

#include <QString>

// The desktop's on-screen keyboard, started as a program of its own.
namespace OnScreenKeyboard {

// The desktop's keyboard: onboard on X; under a Wayland compositor wvkbd, which types through
// the compositor's virtual-keyboard protocol with the keyboard's own key positions (what the
// remote session sends on) and stands at the screen's lower edge where the compositor offers
// layers. Where it offers neither it ends at once, and the button does nothing.
QString DefaultProgram();

// The program started: a name looked up on the search path, or a path.
QString Program();
// Replaces the program (tests); an empty name restores the default.
void SetProgram(const QString &program);

// Starts the program detached, without arguments, and returns at once: true when it was
// started. Otherwise error tells why.
bool Start(QString *error = nullptr);

} // namespace OnScreenKeyboard
