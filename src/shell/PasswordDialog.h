#pragma once

#include <QDialog>
#include <QString>

class QLabel;
class QLineEdit;
class QPushButton;

// What the two security password dialogs share: a fixed, modeless window above all others,
// Ok and Cancel, the expected password read on load, and the unload that releases the caller
// waiting for the dialog. The close box and Esc count as Cancel.
class PasswordDialog : public QDialog
{
    Q_OBJECT

public:
    ~PasswordDialog() override;

    // Runs Form_Unload, closes the window and destroys it once control is back in an event
    // loop; the dialog counts as unloaded at once.
    void Unload();

    // On top, no access granted yet, the expected password read.
    virtual void Form_Load();
    virtual void Form_Activate() = 0;
    virtual void cmdOk_Click() = 0;
    void cmdCancel_Click();
    // Releases the caller waiting for the dialog.
    void Form_Unload();

protected:
    QPushButton *cmdOk = nullptr;
    QPushButton *cmdCancel = nullptr;
    // The expected password as read on load; empty when none is defined.
    QString mSecurityPassword;

    // The window's client area and where its buttons stand, in twips; waitFlag is the flag
    // its caller waits on.
    PasswordDialog(const char *name, const QString &caption, QSize area, QPoint ok, int cancelLeft, bool &waitFlag);
    QLabel *label(const char *name, const QString &caption, int left, int top, int width);
    QLineEdit *passwordField(const char *name, int left, int top, int width);
    // Forgets the loaded instance of the dialog's kind.
    virtual void forget() = 0;

    bool event(QEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    void reject() override;

private:
    bool &mWaitFlag;
    bool mUnloaded = false;
};
