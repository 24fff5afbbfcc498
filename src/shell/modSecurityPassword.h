#pragma once

#include <QString>
#include <QtGlobal>

// The security password gate.
namespace modSecurityPassword {

// Shows the password prompt and waits until it closes; true when access is granted.
bool CheckSecurityPassword();
// Processes events, sleeping 100 ms between rounds, until flag becomes false.
void WaitForDialogClose(bool &flag);
// The tray menu's "Security": opens the password definition dialog and waits until it closes.
void mnuSecConfig_Click();

// The stored password as read ("0" when none is defined).
QString ReadStoredPassword();
// Whether the settings file keeps the password as typed (not so with blanks around it or
// enclosing quotes).
bool IsStorable(const QString &password);
// Stores a new password; true when it reads back as the file's rules give it back, else the
// write failed: the previous value is put back and false returned.
bool WriteStoredPassword(const QString &password);

} // namespace modSecurityPassword
