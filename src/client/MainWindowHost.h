#pragma once

// What the main window needs of the form that owns it (the tray form), which it does not
// link: the access gate of the machine-control buttons, and the rebuild after "Save".
class MainWindowHost
{
public:
    // Shows the password prompt and waits until it closes; true when access is granted.
    virtual bool CheckSecurityPassword() = 0;
    // Throws the main window away and builds it anew from the stored configuration.
    virtual void RefreshMainForm() = 0;

protected:
    ~MainWindowHost() = default;
};
