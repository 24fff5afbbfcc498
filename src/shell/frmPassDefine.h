#pragma once

#include <QDialog>
#include <QString>

class QLabel;
class QLineEdit;
class QPushButton;

// The password definition dialog: old password (when one is defined), new password and its
// verification. Modeless and above all other windows.
class frmPassDefine : public QDialog
{
    Q_OBJECT

public:
    // The longest password the settings accessor reads back whole.
    static constexpr int MaxPasswordLength = 254;

    // The loaded dialog, or nullptr.
    static frmPassDefine *Instance();
    // Loads the dialog (its Form_Load runs) unless it is loaded.
    static frmPassDefine &Load();

    ~frmPassDefine() override;

    // Runs Form_Unload, closes the window and destroys it once control is back in an event
    // loop; the dialog counts as unloaded at once.
    void Unload();

    void Form_Load();
    void Form_Activate();
    void cmdOk_Click();
    void cmdCancel_Click();
    void Form_Unload();

    QLabel *Label4 = nullptr;
    QLineEdit *txtOldPassword = nullptr;
    QLabel *Label2 = nullptr;
    QLineEdit *txtNewPassword = nullptr;
    QLabel *Label1 = nullptr;
    QLineEdit *txtVerifyNewPassword = nullptr;
    QPushButton *cmdOk = nullptr;
    QPushButton *cmdCancel = nullptr;

    // The expected old password as read on load; empty when none is defined.
    QString mSecurityPassword;

protected:
    bool event(QEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    // Esc.
    void reject() override;

private:
    frmPassDefine();

    bool mUnloaded = false;
};
