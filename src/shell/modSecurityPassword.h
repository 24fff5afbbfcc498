#pragma once

// The security password gate.
namespace modSecurityPassword {

// Shows the password prompt and waits until it closes; true when access is granted.
bool CheckSecurityPassword();
// Processes events, sleeping 100 ms between rounds, until flag becomes false.
void WaitForDialogClose(bool &flag);

} // namespace modSecurityPassword
