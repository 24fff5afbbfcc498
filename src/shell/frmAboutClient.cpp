#include "shell/frmAboutClient.h"

#include "Version.h"
#include "shell/DialogGeometry.h"

#include <QCloseEvent>
#include <QIcon>
#include <QLabel>
#include <QPixmap>
#include <QPointer>
#include <QPushButton>

namespace {
QPointer<frmAboutClient> g_box;

QLabel *label(QWidget *parent, const char *name, const QString &caption)
{
    auto *l = new QLabel(caption, parent);
    l->setObjectName(QLatin1String(name));
    return l;
}
} // namespace

frmAboutClient *frmAboutClient::Instance()
{
    return g_box.data();
}

frmAboutClient &frmAboutClient::ShowBox()
{
    if (!g_box) {
        g_box = new frmAboutClient;
        g_box->Form_Load();
    }
    g_box->show();
    g_box->raise();
    g_box->activateWindow();
    return *g_box;
}

QString frmAboutClient::VersionText(int major, int minor)
{
    return QStringLiteral("%1.%2").arg(major, 2, 10, QLatin1Char('0')).arg(minor, 2, 10, QLatin1Char('0'));
}

QString frmAboutClient::BuildText(int revision)
{
    return QString::number(revision);
}

frmAboutClient::frmAboutClient() : QDialog(nullptr, DialogGeometry::FixedDialogFlags)
{
    using namespace DialogGeometry;
    setObjectName(QStringLiteral("frmAboutClient"));
    setWindowTitle(QStringLiteral("About Torvane Remote Desktop Client"));
    setWindowIcon(QIcon(QStringLiteral(":/veskora.xpm")));
    // The layout was drawn for a small dialog font.
    setFont(dialogFont());
    setModal(false);
    setAttribute(Qt::WA_DeleteOnClose);
    setFixedSize(twipsSize(4680, 1965));

    cmdOk = new QPushButton(QStringLiteral("&OK"), this);
    cmdOk->setObjectName(QStringLiteral("cmdOk"));
    cmdOk->setDefault(true);
    place(cmdOk, 1680, 1440, 1215, 375);

    Picture1 = new QLabel(this);
    Picture1->setObjectName(QStringLiteral("Picture1"));
    place(Picture1, 240, 240, 720, 720);
    Picture1->setAlignment(Qt::AlignCenter);
    Picture1->setPixmap(QPixmap(QStringLiteral(":/veskora.xpm"))
                            .scaled(Picture1->size(), Qt::KeepAspectRatio, Qt::SmoothTransformation));

    Label1 = label(this, "Label1", QStringLiteral("Torvane Remote Desktop Client"));
    place(Label1, 1320, 240, 2415, 330);

    lblVersion = label(this, "lblVersion", QString());
    place(lblVersion, 1920, 600, 495, 330);
    Label2 = label(this, "Label2", QStringLiteral("Version:"));
    place(Label2, 1320, 600, 615, 330);
    Label3 = label(this, "Label3", QStringLiteral("Build:"));
    place(Label3, 2520, 600, 375, 330);
    lblBuild = label(this, "lblBuild", QString());
    place(lblBuild, 3000, 600, 495, 330);
    // A caption may be wider in the desktop's font than in the one the box was drawn for:
    // it keeps its place and gets the room it needs rather than being cut.
    for (QLabel *caption : {Label1, Label2, Label3})
        caption->resize(qMax(caption->width(), caption->sizeHint().width()), caption->height());

    connect(cmdOk, &QPushButton::clicked, this, &frmAboutClient::cmdOk_Click);
    cmdOk->setFocus();
}

frmAboutClient::~frmAboutClient() = default;

void frmAboutClient::Form_Load()
{
    lblVersion->setText(VersionText(Version::Major, Version::Minor));
    lblBuild->setText(BuildText(Version::Revision));
}

void frmAboutClient::cmdOk_Click()
{
    // Closing deletes the box once control is back in an event loop.
    close();
}

void frmAboutClient::closeEvent(QCloseEvent *e)
{
    e->accept();
    if (g_box == this)
        g_box = nullptr;
}

void frmAboutClient::reject()
{
    // Esc closes the box like OK.
    close();
}
