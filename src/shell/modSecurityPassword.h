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
// Stores a new password; true when it reads back as typed, else the write failed: the
// previous value is put back and false returned.
bool WriteStoredPassword(const QString &password);

} // namespace modSecurityPassword
