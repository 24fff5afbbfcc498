#include "shell/modSecurityPassword.h"

// Not built yet.
namespace modSecurityPassword {
bool CheckSecurityPassword() { return true; }
void WaitForDialogClose(bool &flag) { flag = false; }
} // namespace modSecurityPassword
