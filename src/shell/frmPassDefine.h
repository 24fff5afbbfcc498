#pragma once

#include "client/Forms.h"
#include "shell/PasswordDialog.h"

// The password definition dialog: old password (when one is defined), new password and its
// verification.
class frmPassDefine : public PasswordDialog
{
    Q_OBJECT

public:
    // The longest password the settings accessor reads back whole.
    static constexpr int MaxPasswordLength = 254;

    // The loaded dialog, or nullptr.
    static frmPassDefine *Instance();
    // Loads the dialog (its Form_Load runs) unless it is loaded.
    static frmPassDefine &Load();

    void Form_Load() override;
    void Form_Activate() override;
    void cmdOk_Click() override;
    // Without a defined password there is no old one to enter.
    void EnableOldPassword(bool enabled);

private:
    QLabel *Label4 = nullptr;
    QLineEdit *txtOldPassword = nullptr;
    QLabel *Label2 = nullptr;
    QLineEdit *txtNewPassword = nullptr;
    QLabel *Label1 = nullptr;
    QLineEdit *txtVerifyNewPassword = nullptr;

    friend class Forms::Instance<frmPassDefine>;
    frmPassDefine();
    void forget() override;
};
