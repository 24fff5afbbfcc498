#pragma once

#include "client/Forms.h"

#include <QDialog>

class QLabel;
class QPushButton;

// The about box: product name, version and build of the program.
class frmAboutClient : public QDialog
{
    Q_OBJECT

public:
    // The open about box, or nullptr.
    static frmAboutClient *Instance();
    // Shows the about box modeless with no owner; an open box is shown again, not a second one.
    static frmAboutClient &ShowBox();

    void Form_Load();
    void cmdOk_Click();

protected:
    void closeEvent(QCloseEvent *event) override;
    void reject() override;

private:
    QLabel *Picture1 = nullptr;
    QLabel *Label1 = nullptr;
    QLabel *Label2 = nullptr;
    QLabel *lblVersion = nullptr;
    QLabel *Label3 = nullptr;
    QLabel *lblBuild = nullptr;
    QPushButton *cmdOk = nullptr;

    friend class Forms::Instance<frmAboutClient>;
    frmAboutClient();
};
