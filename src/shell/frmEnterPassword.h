#pragma once

#include "client/Forms.h"
#include "shell/PasswordDialog.h"

// The security password prompt: one password field, Ok and Cancel. The gate waits for it by
// processing events.
class frmEnterPassword : public PasswordDialog
{
    Q_OBJECT

public:
    // The loaded prompt, or nullptr.
    static frmEnterPassword *Instance();
    // Loads the prompt (its Form_Load runs) unless it is loaded.
    static frmEnterPassword &Load();

    void Form_Activate() override;
    void cmdOk_Click() override;

private:
    QLabel *Label4 = nullptr;
    QLineEdit *txtEnterPassword = nullptr;

    friend class Forms::Instance<frmEnterPassword>;
    frmEnterPassword();
    void forget() override;
};
