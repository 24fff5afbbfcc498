#include "shell/frmAboutClient.h"

#include "Version.h"
#include "client/FormLayout.h"

#include <QCloseEvent>
#include <QIcon>
#include <QLabel>
#include <QPixmap>
#include <QPushButton>

using FormLayout::Place;

namespace {

Forms::Instance<frmAboutClient> g_box;

QLabel *label(QWidget *parent, const char *name, const QString &caption)
{
    auto *l = new QLabel(caption, parent);
    l->setObjectName(QLatin1String(name));
    return l;
}

// "#00": at least two digits, every further digit in full.
QString twoDigits(int number)
{
    return QStringLiteral("%1").arg(number, 2, 10, QLatin1Char('0'));
}

} // namespace

frmAboutClient *frmAboutClient::Instance()
{
    return g_box.get();
}

frmAboutClient &frmAboutClient::ShowBox()
{
    frmAboutClient &box = g_box.load();
    box.show();
    box.raise();
    box.activateWindow();
    return box;
}

frmAboutClient::frmAboutClient() : QDialog(nullptr, FormLayout::FixedDialogFlags)
{
    setObjectName(QStringLiteral("frmAboutClient"));
    setWindowTitle(QStringLiteral("About Torvane Remote Desktop Client"));
    setWindowIcon(FormLayout::Icon(QStringLiteral(":/veskora.xpm")));
    setFont(FormLayout::Arial());
    setModal(false);
    setAttribute(Qt::WA_DeleteOnClose);
    setFixedSize(FormLayout::TwipsSize(4680, 1965));

    cmdOk = new QPushButton(QStringLiteral("&OK"), this);
    cmdOk->setObjectName(QStringLiteral("cmdOk"));
    cmdOk->setDefault(true);
    Place(cmdOk, 1680, 1440, 1215, 375);

    Picture1 = label(this, "Picture1", QString());
    Place(Picture1, 240, 240, 720, 720);
    Picture1->setAlignment(Qt::AlignCenter);
    Picture1->setPixmap(FormLayout::Picture(QStringLiteral(":/veskora.xpm"))
                            .scaled(Picture1->size(), Qt::KeepAspectRatio, Qt::SmoothTransformation));

    Label1 = label(this, "Label1", QStringLiteral("Torvane Remote Desktop Client"));
    Place(Label1, 1320, 240, 2415, 330);
    lblVersion = label(this, "lblVersion", QString());
    Place(lblVersion, 1920, 600, 495, 330);
    Label2 = label(this, "Label2", QStringLiteral("Version:"));
    Place(Label2, 1320, 600, 615, 330);
    Label3 = label(this, "Label3", QStringLiteral("Build:"));
    Place(Label3, 2520, 600, 375, 330);
    lblBuild = label(this, "lblBuild", QString());
    Place(lblBuild, 3000, 600, 495, 330);
    // A caption may be wider in the desktop's font than in the one the box was drawn for:
    // it keeps its place and gets the room it needs rather than being cut.
    for (QLabel *caption : {Label1, Label2, Label3})
        caption->resize(qMax(caption->width(), caption->sizeHint().width()), caption->height());

    connect(cmdOk, &QPushButton::clicked, this, &frmAboutClient::cmdOk_Click);
    cmdOk->setFocus();
}

void frmAboutClient::Form_Load()
{
    lblVersion->setText(twoDigits(Version::Major) + u'.' + twoDigits(Version::Minor));
    lblBuild->setText(QString::number(Version::Revision));
}

void frmAboutClient::cmdOk_Click()
{
    // Closing deletes the box once control is back in an event loop.
    close();
}

void frmAboutClient::closeEvent(QCloseEvent *e)
{
    e->accept();
    g_box.forget(this);
}

void frmAboutClient::reject()
{
    // Esc closes the box like OK.
    close();
}
