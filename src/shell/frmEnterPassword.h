#pragma once

#include <QDialog>
#include <QString>

class QLabel;
class QLineEdit;
class QPushButton;

// The security password prompt: one password field, Ok and Cancel. Modeless and above all
// other windows; the gate waits for it by processing events.
class frmEnterPassword : public QDialog
{
    Q_OBJECT

public:
    // The loaded prompt, or nullptr.
    static frmEnterPassword *Instance();
    // Loads the prompt (its Form_Load runs) unless it is loaded.
    static frmEnterPassword &Load();

    ~frmEnterPassword() override;

    // Runs Form_Unload, closes the window and destroys it once control is back in an event
    // loop; the prompt counts as unloaded at once.
    void Unload();

    void Form_Load();
    void Form_Activate();
    void cmdOk_Click();
    void cmdCancel_Click();
    void Form_Unload();

    QLabel *Label4 = nullptr;
    QLineEdit *txtEnterPassword = nullptr;
    QPushButton *cmdOk = nullptr;
    QPushButton *cmdCancel = nullptr;

    // The expected password as read on load; empty when none is defined.
    QString mSecurityPassword;

protected:
    bool event(QEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    // Esc.
    void reject() override;

private:
    frmEnterPassword();

    bool mUnloaded = false;
};
