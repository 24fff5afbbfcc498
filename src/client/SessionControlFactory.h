#pragma once

#include <functional>

class QWidget;
class SessionControl;

// Makes the session control of each new session window: the real remote desktop client in
// the program, a recording double in tests.
namespace SessionControlFactory {
using Factory = std::function<SessionControl *(QWidget *parent)>;
void Set(Factory factory);
SessionControl *Create(QWidget *parent);
} // namespace SessionControlFactory
