#include "client/Forms.h"
#include "client/SessionControl.h"
#include "client/frmClient.h"
#include "client/frmMsRdpClient.h"
#include "serverlink/SocketControl.h"
#include "startup/modGlobClientVar.h"
#include "system/modSystemBasic.h"

#include "../support/RecordingSessionControl.h"
#include "../support/TestSupport.h"

#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QProcess>
#include <QPushButton>
#include <QScreen>
#include <QSet>
#include <QSignalSpy>
#include <QStackedWidget>
#include <QStandardPaths>
#include <QStatusBar>
#include <QTabBar>
#include <QTabWidget>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QTimer>
#include <QWindow>

#include <cstdio>
#include <iterator>
#include <memory>

using namespace modGlobClientVar;

namespace {

int px(int twips) { return qRound(twips / double(modSystemBasic::TwipsPerPixelX())); }
int py(int twips) { return qRound(twips / double(modSystemBasic::TwipsPerPixelY())); }

// Every control of the window as designed; checked is -1 for anything but a check box.
struct Design
{
    const char *name, *kind, *caption, *container;
    bool visible = true, enabled = true;
    int checked = -1;
};
const Design kDesign[] = {
    {"Frame2", "QGroupBox", "", "frmClient"},
    {"cboUsername", "QComboBox", "", "Frame2", false},
    {"chkUserPass", "CheckBox", "Use Password", "Frame2", true, true, 1},
    {"txtPassword", "QLineEdit", "", "Frame2"},
    {"cboResolution", "QComboBox", "", "Frame2"},
    {"cmdRemoteDesktop", "QPushButton", "Remote Desktop", "Frame2"},
    {"txtUserName", "QLineEdit", "", "Frame2"},
    {"shpLockStatus", "Shape", "", "Frame2"},
    {"lblUsername", "QLabel", "Username:", "Frame2"},
    {"lblResolution", "QLabel", "Resolution:", "Frame2"},
    {"lblPassword", "QLabel", "Password:", "Frame2"},
    {"Image1", "QLabel", "", "Frame2"},
    {"Frame1", "QGroupBox", "", "frmClient"},
    {"cmdKeyboard", "QPushButton", "On-Screen Keyboard", "Frame1"},
    {"txtClientname", "QLineEdit", "", "Frame1", true, false},
    {"txtClientIP", "QLineEdit", "", "Frame1", true, false},
    {"Image2", "QLabel", "", "Frame1"},
    {"Label1", "QLabel", "Clientname:", "Frame1"},
    {"Label2", "QLabel", "Client-IP:", "Frame1"},
    {"cmdRestart", "QPushButton", "Restart", "frmClient", true, false},
    {"fraConfig", "QFrame", "", "frmClient", false},
    {"cmdSetDefault", "QPushButton", "Set Default", "fraConfig"},
    {"cmdSave", "QPushButton", "Save", "fraConfig"},
    {"SSTab1", "QTabWidget", "", "fraConfig"},
    {"fraConfiguration", "QFrame", "", "SSTab1"},
    {"chkAutoConnect", "CheckBox", "Connect to Server", "fraConfiguration", true, true, 0},
    {"txtServer", "QLineEdit", "", "fraConfiguration"},
    {"txtPort", "QLineEdit", "", "fraConfiguration"},
    {"lblServer", "QLabel", "Server:", "fraConfiguration"},
    {"Label3", "QLabel", "Port:", "fraConfiguration"},
    {"fraPerformance", "QFrame", "", "SSTab1"},
    {"chkENABLE_ENHANCED_GRAPHICS", "CheckBox", "Enable Enhanced Graphics", "fraPerformance", true, true, 0},
    {"chkDISABLE_THEMING", "CheckBox", "Disable Theming", "fraPerformance", true, true, 0},
    {"chkDISABLE_MENUANIMATIONS", "CheckBox", "Disable Menu Animation", "fraPerformance", true, true, 0},
    {"chkDISABLE_WALLPAPER", "CheckBox", "Disable Wallpaper", "fraPerformance", true, true, 0},
    {"chkDISABLE_FULLWINDOWDRAG", "CheckBox", "Disable Full Window Drag", "fraPerformance", true, true, 0},
    {"chkDISABLE_CURSOR_SHADOW", "CheckBox", "Disable Cursor Shadow", "fraPerformance", true, true, 0},
    {"chkDISABLE_CURSORSETTINGS", "CheckBox", "Disable Cursorsetting", "fraPerformance", true, true, 0},
    {"fraRedirection", "QFrame", "", "SSTab1"},
    {"chkRedirectSmartCards", "CheckBox", "Redirect SmartCards", "fraRedirection", true, true, 0},
    {"chkRedirectPrinters", "CheckBox", "Redirect Printers", "fraRedirection", true, true, 0},
    {"chkRedirectPorts", "CheckBox", "Redirect Ports", "fraRedirection", true, true, 0},
    {"chkRedirectDrives", "CheckBox", "Redirect Drives", "fraRedirection", true, true, 0},
    {"fraOther", "QFrame", "", "SSTab1"},
    {"chkDisplayConnectionBar", "CheckBox", "Enable Display Connection Bar", "fraOther", true, true, 0},
    {"chkBitmap", "CheckBox", "Enable Cache Bitmaps", "fraOther", true, true, 0},
    {"chkCompress", "CheckBox", "Enable Data Compression", "fraOther", true, true, 0},
    {"chkEnableAutoReconnect", "CheckBox", "Enable Auto Reconnect", "fraOther", true, true, 0},
    {"cmdShutDown", "QPushButton", "Turn Off", "frmClient", true, false},
    {"stbStatusBar", "QStatusBar", "", "frmClient"},
    {"stbPanel1", "QLabel", "", "stbStatusBar"},
    {"stbPanel2", "QLabel", "", "stbStatusBar"},
    {"timControl", "QTimer", "", "frmClient"},
    {"Winsock", "SocketControl", "", "frmClient"},
    {"lblText", "QLabel", "", "frmClient"},
    {"lblServerVersionLabel", "QLabel", "Server Version:", "frmClient", false},
    {"lblServerVersion", "QLabel", "", "frmClient", false},
    {"Image3", "QLabel", "", "frmClient"},
    {"Image4", "QLabel", "", "frmClient"},
};

// A tab page's container is the tab control, not the stack inside it.
QString containerOf(const QObject *o)
{
    const QObject *p = o->parent();
    if (qobject_cast<const QStackedWidget *>(p) && qobject_cast<const QTabWidget *>(p->parent()))
        p = p->parent();
    return p ? p->objectName() : QString();
}

QString captionOf(const QObject *o)
{
    if (auto *b = qobject_cast<const QAbstractButton *>(o))
        return b->text();
    if (auto *l = qobject_cast<const QLabel *>(o))
        return l->text();
    if (auto *g = qobject_cast<const QGroupBox *>(o))
        return g->title();
    if (auto *e = qobject_cast<const QLineEdit *>(o))
        return e->text();
    return {};
}

bool isTabPage(const QWidget *w) { return qobject_cast<const QStackedWidget *>(w->parentWidget()); }

// The designed widgets with a place of their own: no tab pages, no status bar panels.
QList<QWidget *> placedWidgets(frmClient &f)
{
    QList<QWidget *> out;
    for (const Design &d : kDesign)
        if (auto *w = f.findChild<QWidget *>(QLatin1String(d.name)); w && !isTabPage(w) && w->parentWidget() != f.stbStatusBar)
            out << w;
    return out;
}

// A loopback server playing the companion program; it keeps every connection it accepts.
class SideLinkServer : public QObject
{
public:
    SideLinkServer()
    {
        QObject::connect(&server, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket *s = server.nextPendingConnection())
                peers.append(s);
        });
        server.listen(QHostAddress::LocalHost);
    }
    QString port() const { return QString::number(server.serverPort()); }
    QTcpServer server;
    QList<QPointer<QTcpSocket>> peers;
};

// Operator mode with the server: the settings go into Client.cfg and into the loaded window.
frmClient &loadOperator(const TestSupport::ProgramDir &dir, const QString &port, bool notMaximized)
{
    dir.write(QStringLiteral("Client.cfg"), {QStringLiteral("[Client]"), QStringLiteral("txtServer=127.0.0.1"),
                                             QStringLiteral("txtPort=") + port, QStringLiteral("chkUserPass=0"),
                                             QStringLiteral("AutoConnect=1")});
    gNotMaximized = notMaximized;
    frmClient &f = Forms::LoadClient();
    f.chkAutoConnect->setValue(1);
    f.chkUserPass->setValue(0);
    f.txtServer->setText(QStringLiteral("127.0.0.1"));
    f.txtPort->setText(port);
    return f;
}

} // namespace

class tst_frmClient : public QObject
{
    Q_OBJECT

private:
    frmClient &load(bool notMaximized)
    {
        gNotMaximized = notMaximized;
        return Forms::LoadClient();
    }
    frmClient &loadOperator(SideLinkServer &server, bool notMaximized = false)
    {
        return ::loadOperator(*m_dir, server.port(), notMaximized);
    }
    static void waitForActivation(frmClient &f)
    {
        QTRY_VERIFY(f.isActiveWindow());
        QCoreApplication::processEvents();
    }

    std::unique_ptr<TestSupport::ProgramDir> m_dir;

private slots:
    void initTestCase()
    {
        qApp->setQuitOnLastWindowClosed(false);
        RecordingSessionControl::install();
    }

    void init()
    {
        frmClient::TimerIntervalMs = 3600 * 1000;
        m_dir = std::make_unique<TestSupport::ProgramDir>();
        gNotMaximized = false;
        gStartConnectLifeCnt = 3;
        gStartLifeCnt = 45;
        gTryConnectCount = 0;
        gTryConnectActionCnt = 3;
        gMaxTryConnectActionCnt = 50;
        gUserProcessName.clear();
        gSecurityEnabled = false;
    }

    void cleanup()
    {
        Forms::UnloadClient();
        Forms::UnloadMsRdpClient();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        m_dir.reset();
    }

    void designControls_data()
    {
        QTest::addColumn<int>("row");
        for (int i = 0; i < int(std::size(kDesign)); ++i)
            QTest::newRow(kDesign[i].name) << i;
    }

    void designControls()
    {
        QFETCH(int, row);
        const Design &d = kDesign[row];
        frmClient f;
        const QList<QObject *> found = f.findChildren<QObject *>(QLatin1String(d.name));
        QCOMPARE(found.size(), 1);
        QObject *o = found.first();
        QVERIFY2(o->inherits(d.kind), o->metaObject()->className());
        QCOMPARE(captionOf(o), QString::fromLatin1(d.caption));
        QCOMPARE(containerOf(o), QString::fromLatin1(d.container));
        if (auto *w = qobject_cast<QWidget *>(o)) {
            if (!isTabPage(w)) // the tab control shows one page at a time
                QCOMPARE(!w->isHidden(), d.visible);
            QCOMPARE(w->isEnabled(), d.enabled);
        }
        if (d.checked >= 0) {
            auto *box = qobject_cast<CheckBox *>(o);
            QVERIFY(box);
            QCOMPARE(box->Value(), d.checked);
        }
    }

    void designWindow()
    {
        frmClient f;
        QCOMPARE(f.objectName(), QStringLiteral("frmClient"));
        QCOMPARE(f.windowTitle(), QStringLiteral("Torvane Remote Desktop Client"));
        QCOMPARE(f.size(), QSize(518, 431));
        QCOMPARE(f.minimumSize(), QSize(518, 431));
        QCOMPARE(f.maximumSize(), QSize(518, 431));

        const QStringList captions = QStringLiteral("Configuration|Performance|Redirection|Other").split(u'|');
        const QList<QFrame *> pages{f.fraConfiguration, f.fraPerformance, f.fraRedirection, f.fraOther};
        QCOMPARE(f.SSTab1->count(), 4);
        for (int i = 0; i < 4; ++i) {
            QCOMPARE(f.SSTab1->tabText(i), captions.at(i));
            QCOMPARE(f.SSTab1->widget(i), pages.at(i));
            QCOMPARE(pages.at(i)->frameShape(), QFrame::NoFrame);
        }
        QCOMPARE(f.fraConfig->frameShape(), QFrame::NoFrame);
        QCOMPARE(f.SSTab1->currentIndex(), 0);

        QStringList entries;
        for (int i = 0; i < f.cboResolution->count(); ++i)
            entries << f.cboResolution->itemText(i);
        QCOMPARE(entries, QStringLiteral("Full-Screen|640 x 480|800 x 600|1024 x 768|1152 x 864|1280 x 1024|1600 x 1024")
                              .split(u'|'));
        // A typed resolution does not grow the list; the profile list is chosen from only.
        QVERIFY(f.cboResolution->isEditable());
        f.cboResolution->lineEdit()->setText(QStringLiteral("1000 x 700"));
        QTest::keyClick(f.cboResolution->lineEdit(), Qt::Key_Return);
        QCOMPARE(f.cboResolution->count(), 7);
        QCOMPARE(f.cboResolution->currentText(), QStringLiteral("1000 x 700"));
        QVERIFY(!f.cboUsername->isEditable());
        f.cboUsername->addItems({QStringLiteral("alice"), QStringLiteral("bob")});
        f.cboUsername->setCurrentIndex(0);
        QTest::keyClicks(f.cboUsername, QStringLiteral("b"));
        QCOMPARE(f.cboUsername->currentIndex(), 0);
        QTest::keyClick(f.cboUsername, Qt::Key_Down);
        QCOMPARE(f.cboUsername->currentIndex(), 1);

        QCOMPARE(f.cmdRemoteDesktop->x(), px(720));
        QCOMPARE(f.cmdRemoteDesktop->width(), px(2415));
        QCOMPARE(f.shpLockStatus->x(), px(2880));
        QCOMPARE(f.shpLockStatus->size(), QSize(px(225), py(225)));
        QCOMPARE(f.lblServerVersionLabel->y(), py(5880));
        QCOMPARE(f.lblServerVersion->y(), py(5880));
        QCOMPARE(f.cboUsername->geometry(), f.txtUserName->geometry());
        QCOMPARE(f.stbStatusBar->geometry(), QRect(0, f.height() - f.stbStatusBar->height(), f.width(), f.stbStatusBar->height()));

        f.txtPassword->setText(QStringLiteral("secret"));
        QCOMPARE(f.txtPassword->displayText(), QStringLiteral("******"));
        for (QLabel *image : {f.Image1, f.Image2, f.Image3, f.Image4})
            QVERIFY2(!image->pixmap().isNull() && !image->size().isEmpty(), qPrintable(image->objectName()));

        // Two status bar panels, addressed 1 and 2.
        QCOMPARE(f.stbStatusBar->findChildren<QLabel *>(QString(), Qt::FindDirectChildrenOnly).size(), 2);
        f.setPanelText(2, QStringLiteral("error:5 x"));
        f.setPanelText(3, QStringLiteral("nowhere"));
        QCOMPARE(f.stbPanel2->text(), QStringLiteral("error:5 x"));
        QCOMPARE(f.PanelText(3), QString());
        QVERIFY(!f.timControl->isActive());
        QVERIFY(!f.timControl->isSingleShot());
        QCOMPARE(f.mLifeCnt, 0);
    }

    void fonts()
    {
        frmClient f;
        const QSet<QString> big{QStringLiteral("cmdRemoteDesktop"), QStringLiteral("cmdKeyboard"),
                                QStringLiteral("cmdRestart"), QStringLiteral("cmdShutDown")};
        QCOMPARE(f.font().family(), QStringLiteral("Arial"));
        QCOMPARE(f.font().pointSizeF(), 8.25);
        for (const Design &d : kDesign) {
            auto *w = f.findChild<QWidget *>(QLatin1String(d.name));
            if (!w)
                continue;
            const bool isBig = big.contains(QLatin1String(d.name));
            QVERIFY2(w->font().family() == QStringLiteral("Arial"), d.name);
            QVERIFY2(w->font().pointSizeF() == (isBig ? 9.75 : 8.25), d.name);
            QVERIFY2(w->font().bold() == isBig, d.name);
        }
    }

    void labelBuddies_data()
    {
        QTest::addColumn<QString>("label");
        QTest::addColumn<QString>("field");
        QTest::newRow("user name") << "lblUsername" << "txtUserName";
        QTest::newRow("password") << "lblPassword" << "txtPassword";
        QTest::newRow("resolution") << "lblResolution" << "cboResolution";
        QTest::newRow("client name") << "Label1" << "txtClientname";
        QTest::newRow("client IP") << "Label2" << "txtClientIP";
        QTest::newRow("server") << "lblServer" << "txtServer";
        QTest::newRow("port") << "Label3" << "txtPort";
    }

    void labelBuddies()
    {
        QFETCH(QString, label);
        QFETCH(QString, field);
        frmClient f;
        auto *l = f.findChild<QLabel *>(label);
        auto *w = f.findChild<QWidget *>(field);
        QVERIFY(l && w);
        QCOMPARE(l->buddy(), w);
        QVERIFY(!w->accessibleName().isEmpty());
        QVERIFY(l->text().startsWith(w->accessibleName()));
    }

    void handlersWired()
    {
        frmClient f;
        // Disconnecting succeeds only for a connection that exists, to exactly that handler.
        QVERIFY(disconnect(f.cmdRemoteDesktop, &QPushButton::clicked, &f, &frmClient::cmdRemoteDesktop_Click));
        QVERIFY(disconnect(f.cmdSave, &QPushButton::clicked, &f, &frmClient::cmdSave_Click));
        QVERIFY(disconnect(f.cmdSetDefault, &QPushButton::clicked, &f, &frmClient::cmdSetDefault_Click));
        QVERIFY(disconnect(f.cmdRestart, &QPushButton::clicked, &f, &frmClient::cmdRestart_Click));
        QVERIFY(disconnect(f.cmdShutDown, &QPushButton::clicked, &f, &frmClient::cmdShutDown_Click));
        QVERIFY(disconnect(f.cmdKeyboard, &QPushButton::clicked, &f, &frmClient::cmdKeyboard_Click));
        QVERIFY(disconnect(f.Winsock, &SocketControl::Connected, &f, &frmClient::Winsock_Connect));
        QVERIFY(disconnect(f.Winsock, &SocketControl::Closed, &f, &frmClient::Winsock_Close));
        QVERIFY(disconnect(f.Winsock, &SocketControl::Error, &f, &frmClient::Winsock_Error));
        QVERIFY(disconnect(f.Winsock, &SocketControl::DataArrival, &f, &frmClient::Winsock_DataArrival));
        QVERIFY(disconnect(f.timControl, &QTimer::timeout, &f, &frmClient::timControl_Timer));
    }

    void keyRouting_data()
    {
        QTest::addColumn<QString>("field");
        QTest::addColumn<QString>("before");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("after");
        // The port takes digits and Backspace only; the length limits apply to Backspace (8) too.
        QTest::newRow("port digits") << "txtPort" << "" << "12a.3 -+" << "123";
        QTest::newRow("server anything") << "txtServer" << "" << "ts-1.example" << "ts-1.example";
        QTest::newRow("port full: digit") << "txtPort" << "123456" << "7" << "123456";
        QTest::newRow("port full: backspace") << "txtPort" << "123456" << "\b" << "123456";
        QTest::newRow("port not full: backspace") << "txtPort" << "12345" << "\b" << "1234";
        QTest::newRow("server full: backspace") << "txtServer" << QString(31, QLatin1Char('s')) << "\bx"
                                                << QString(31, QLatin1Char('s'));
        QTest::newRow("server at 30: one more") << "txtServer" << QString(30, QLatin1Char('s')) << "xy"
                                                << QString(30, QLatin1Char('s')) + QLatin1Char('x');
    }

    void keyRouting()
    {
        QFETCH(QString, field);
        QFETCH(QString, before);
        QFETCH(QString, typed);
        QFETCH(QString, after);
        frmClient f;
        auto *edit = f.findChild<QLineEdit *>(field);
        QVERIFY(edit);
        edit->setText(before);
        edit->end(false);
        for (QChar c : typed) {
            if (c == QLatin1Char('\b'))
                QTest::keyClick(edit, Qt::Key_Backspace);
            else
                QTest::keyClicks(edit, QString(c));
        }
        QCOMPARE(edit->text(), after);
    }

    void keysWithoutCharacter()
    {
        frmClient f;
        // A full port field refuses every character, yet Delete and the arrows still work.
        f.txtPort->setText(QStringLiteral("123456"));
        f.txtPort->end(false);
        QTest::keyClick(f.txtPort, Qt::Key_Left);
        QCOMPARE(f.txtPort->cursorPosition(), 5);
        QTest::keyClick(f.txtPort, Qt::Key_Delete);
        QCOMPARE(f.txtPort->text(), QStringLiteral("12345"));
        // Ctrl+V is the control code 22: refused in the port field, taken in the server field.
        QGuiApplication::clipboard()->setText(QStringLiteral("99"));
        for (QLineEdit *edit : {f.txtPort, f.txtServer}) {
            edit->setText(QStringLiteral("1"));
            edit->end(false);
            QTest::keyClick(edit, Qt::Key_V, Qt::ControlModifier);
        }
        QCOMPARE(f.txtPort->text(), QStringLiteral("1"));
        QCOMPARE(f.txtServer->text(), QStringLiteral("199"));
    }

    void loadFillsIdentityAndRefusesClose()
    {
        // Without a configuration path the reader leaves the start values in place.
        gClientCfgFile.clear();
        gUserCfgFile.clear();
        gRdpStarted = gRdpConnected = true;
        frmClient &f = load(true);
        QVERIFY(f.isVisible());
        QVERIFY(modSystemBasic::IsCloseRemoved(&f));
        QVERIFY(!gRdpStarted);
        QVERIFY(!gRdpConnected);
        QCOMPARE(f.txtClientname->text(), modSystemBasic::GetLocalComputerName());
        SocketControl probe;
        QCOMPARE(f.txtClientIP->text(), probe.LocalIP());
        QVERIFY(!f.txtServer->text().isEmpty());
        QCOMPARE(f.txtPort->text(), QStringLiteral("12559"));
        QCOMPARE(f.txtUserName->text(), QString());
        QCOMPARE(f.txtPassword->text(), QString());
        QCOMPARE(f.cboResolution->currentText(), QStringLiteral("Full-Screen"));
        QCOMPARE(f.mLifeCnt, 0);
        // The session window is loaded hidden, its control invisible.
        frmMsRdpClient *session = Forms::MsRdpClient();
        QVERIFY(session && session->msts);
        QVERIFY(!session->isVisible());
        QVERIFY(session->msts->isHidden());
        // Close requests are refused.
        waitForActivation(f);
        QVERIFY(!f.close());
        QVERIFY(f.windowHandle());
        QVERIFY(!f.windowHandle()->close());
        QVERIFY(f.isVisible());
        QCOMPARE(Forms::Client(), &f);
    }

    void layout_data()
    {
        QTest::addColumn<bool>("notMaximized");
        QTest::newRow("not maximized") << true;
        QTest::newRow("full screen") << false;
    }
    void layout()
    {
        QFETCH(bool, notMaximized);
        frmClient design;
        frmClient &f = load(notMaximized);
        waitForActivation(f);
        const QSize size = notMaximized ? QSize(518, 431) : QGuiApplication::primaryScreen()->geometry().size();
        QCOMPARE(f.size(), size);
        if (notMaximized) {
            QVERIFY(!(f.windowFlags() & Qt::FramelessWindowHint));
        } else {
            QCOMPARE(f.frameGeometry(), QRect(QPoint(0, 0), size));
            QCOMPARE(f.geometry(), QRect(QPoint(0, 0), size));
            QCOMPARE(f.minimumSize(), size);
            QCOMPARE(f.maximumSize(), size);
        }
        // The server version keeps its distance from the lower edge; the panels halve the width.
        const int down = size.height() - design.height();
        QCOMPARE(f.lblServerVersion->geometry(), design.lblServerVersion->geometry().translated(0, down));
        QCOMPARE(f.lblServerVersionLabel->geometry(), design.lblServerVersionLabel->geometry().translated(0, down));
        QCOMPARE(f.stbPanel1->width(), f.frameGeometry().width() / 2);
        QCOMPARE(f.stbPanel2->width(), f.frameGeometry().width() / 2);
        const int barHeight = design.stbStatusBar->height();
        QCOMPARE(f.stbStatusBar->geometry(), QRect(0, size.height() - barHeight, size.width(), barHeight));
        // Everything else stays where it was designed.
        for (QWidget *w : placedWidgets(design))
            if (w != design.stbStatusBar && w != design.lblServerVersion && w != design.lblServerVersionLabel)
                QVERIFY2(f.findChild<QWidget *>(w->objectName())->geometry() == w->geometry(), qPrintable(w->objectName()));
    }

    void configurationMode()
    {
        frmClient design;
        frmClient &f = load(true);
        f.cboUsername->show();
        waitForActivation(f);
        QVERIFY(f.fraConfig->isVisible());
        QVERIFY(f.txtUserName->isVisible());
        QVERIFY(!f.cboUsername->isVisible());
        QVERIFY(!f.shpLockStatus->isVisible());
        for (QWidget *w : QList<QWidget *>{f.txtUserName, f.txtPassword, f.chkUserPass, f.cboResolution})
            QVERIFY2(w->isEnabled(), qPrintable(w->objectName()));
        QCOMPARE(f.cmdRemoteDesktop->width(), design.cmdRemoteDesktop->width());
        QCOMPARE(f.Winsock->State(), qint32(SocketControl::sckClosed));
        QVERIFY(!f.timControl->isActive());
        QCOMPARE(f.PanelText(1), QString());

        // Places shared on purpose: the profile list stands in for the user name field, the lamp
        // shows only beside the shortened button of operator mode.
        const QSet<QPair<QString, QString>> shared{{QStringLiteral("cboUsername"), QStringLiteral("txtUserName")},
                                                   {QStringLiteral("cmdRemoteDesktop"), QStringLiteral("shpLockStatus")}};
        QList<QWidget *> placed = placedWidgets(f);
        placed.removeOne(f.stbStatusBar);
        for (QWidget *w : placed) {
            // The tab control lays out only the page it shows; all pages have its size.
            const QRect inside = isTabPage(w->parentWidget()) ? f.SSTab1->currentWidget()->rect() : w->parentWidget()->rect();
            QVERIFY2(inside.contains(w->geometry()), qPrintable(w->objectName()));
            if ((qobject_cast<QLabel *>(w) || qobject_cast<QAbstractButton *>(w)) && !captionOf(w).isEmpty()) {
                QVERIFY2(w->sizeHint().width() <= w->width(), qPrintable(w->objectName()));
                QVERIFY2(w->fontMetrics().height() <= w->height(), qPrintable(w->objectName()));
            }
            if (w->parentWidget() == &f)
                QVERIFY2(!w->geometry().intersects(f.stbStatusBar->geometry()), qPrintable(w->objectName()));
            for (QWidget *b : placed)
                if (b != w && b->parentWidget() == w->parentWidget() && !shared.contains({w->objectName(), b->objectName()})
                    && !shared.contains({b->objectName(), w->objectName()}))
                    QVERIFY2(!w->geometry().intersects(b->geometry()),
                             qPrintable(w->objectName() + QStringLiteral(" overlaps ") + b->objectName()));
        }
        for (int i = 0; i < 4; ++i)
            QVERIFY(f.SSTab1->tabBar()->tabRect(i).right() < f.SSTab1->width());
    }

    void autoConnectWithConfigurationVisibleIsConfigurationMode()
    {
        SideLinkServer server;
        frmClient &f = loadOperator(server, true);
        // As after the tray menu's "Configuration": the frame is shown before the activation.
        f.fraConfig->setVisible(true);
        waitForActivation(f);
        f.Form_Activate();
        QVERIFY(f.txtUserName->isEnabled());
        QVERIFY(f.cboResolution->isEnabled());
        QCOMPARE(f.Winsock->State(), qint32(SocketControl::sckClosed));
        QCOMPARE(server.peers.size(), 0);
    }

    void operatorMode_data()
    {
        QTest::addColumn<bool>("notMaximized");
        QTest::newRow("full screen") << false;
        QTest::newRow("not maximized") << true;
    }
    void operatorMode()
    {
        QFETCH(bool, notMaximized);
        SideLinkServer server;
        QSignalSpy connections(&server.server, &QTcpServer::newConnection);
        frmClient &f = loadOperator(server, notMaximized);

        QTRY_VERIFY(!f.txtUserName->isEnabled());
        QVERIFY(!f.fraConfig->isVisible());
        QVERIFY(!f.txtPassword->isEnabled());
        QCOMPARE(f.chkUserPass->Value(), 1);
        QVERIFY(!f.chkUserPass->isEnabled());
        QVERIFY(!f.cboResolution->isEnabled());
        // The button ends 60 twips before the lamp: 2100 twips with the design positions.
        QCOMPARE(f.cmdRemoteDesktop->width(), px(2100));
        QCOMPARE(f.shpLockStatus->x() - f.cmdRemoteDesktop->geometry().right() - 1, px(60));

        // The supervisor ran at once: the server has the side link.
        QTRY_COMPARE(connections.count(), 1);
        QTRY_COMPARE(f.Winsock->State(), qint32(SocketControl::sckConnected));
        QVERIFY(f.timControl->isActive());
        QVERIFY(f.PanelText(1).startsWith(QStringLiteral("Connected ")));

        // With the timer running, a new activation leaves the link to the timer.
        f.Form_Activate();
        QCoreApplication::processEvents();
        QCOMPARE(f.Winsock->State(), qint32(SocketControl::sckConnected));
        QCOMPARE(connections.count(), 1);
        QVERIFY(server.peers.at(0) && server.peers.at(0)->state() == QAbstractSocket::ConnectedState);

        // Only the full-screen panel is held in the top-left corner.
        const QPoint expected = notMaximized ? QPoint(40, 30) : QPoint(0, 0);
        f.move(40, 30);
        QTRY_COMPARE(f.pos(), expected);
        QCoreApplication::processEvents();
        QCoreApplication::processEvents();
        QCOMPARE(f.pos(), expected);
        if (notMaximized)
            QVERIFY(!(f.windowFlags() & Qt::FramelessWindowHint));
    }

    void timerRunsSupervisorOnTickAfterCount_data()
    {
        QTest::addColumn<int>("count");
        QTest::newRow("0: first tick") << 0;
        QTest::newRow("3: fourth tick") << 3;
        QTest::newRow("negative: first tick") << -2;
    }

    void timerRunsSupervisorOnTickAfterCount()
    {
        QFETCH(int, count);
        SideLinkServer server;
        QSignalSpy connections(&server.server, &QTcpServer::newConnection);
        frmClient &f = loadOperator(server);
        QTRY_COMPARE(f.Winsock->State(), qint32(SocketControl::sckConnected));
        QCOMPARE(connections.count(), 1);

        f.mLifeCnt = count;
        for (int tick = 1; tick <= count; ++tick) {
            f.timControl_Timer();
            QCOMPARE(f.mLifeCnt, count - tick);
            QCOMPARE(f.Winsock->State(), qint32(SocketControl::sckConnected));
        }
        f.timControl_Timer(); // re-opens the side link
        QTRY_COMPARE(connections.count(), 2);
        QTRY_COMPARE(f.Winsock->State(), qint32(SocketControl::sckConnected));
        QCOMPARE(f.mLifeCnt, gStartLifeCnt);
    }

    void unloadReleasesTimerAndSocket()
    {
        SideLinkServer server;
        QPointer<frmClient> f = &loadOperator(server);
        QTRY_COMPARE(f->Winsock->State(), qint32(SocketControl::sckConnected));
        QTRY_COMPARE(server.peers.size(), 1);
        QPointer<QTcpSocket> peer = server.peers.at(0);

        Forms::UnloadClient();
        QVERIFY(!Forms::Client());
        QVERIFY(f);
        QVERIFY(!f->isVisible());
        QVERIFY(!f->timControl->isActive());
        QCOMPARE(f->Winsock->State(), qint32(SocketControl::sckClosed));
        QTRY_VERIFY(!peer || peer->state() == QAbstractSocket::UnconnectedState);
        // The window itself goes once control is back in the event loop; the session window stays.
        QTRY_VERIFY(!f);
        QVERIFY(Forms::MsRdpClient());
    }

    void activationWithoutWindowManager_data()
    {
        QTest::addColumn<QString>("mode");
        QTest::newRow("configuration") << "configuration";
        QTest::newRow("operator") << "operator";
    }

    // A bare X server without a window manager never activates a window: the window must take
    // up its mode all the same. Run in a child process of this test on its own X server.
    void activationWithoutWindowManager()
    {
        QFETCH(QString, mode);
        const QString xvfbRun = QStandardPaths::findExecutable(QStringLiteral("xvfb-run"));
        if (xvfbRun.isEmpty())
            QSKIP("xvfb-run is not installed (scripts/install-deps installs it)");

        SideLinkServer server;
        QSignalSpy connections(&server.server, &QTcpServer::newConnection);
        QProcess child;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        env.insert(QStringLiteral("VESKORA_FRMCLIENT_CHILD"), mode);
        env.insert(QStringLiteral("VESKORA_FRMCLIENT_PORT"), server.port());
        child.setProcessEnvironment(env);
        child.setProcessChannelMode(QProcess::MergedChannels);
        child.start(xvfbRun, {QStringLiteral("-a"), QStringLiteral("-s"), QStringLiteral("-screen 0 1024x768x24 -nolisten tcp"),
                              QCoreApplication::applicationFilePath()});
        QVERIFY(child.waitForStarted(10000));
        // Keep our server answering while the child runs.
        QTRY_VERIFY_WITH_TIMEOUT(child.state() == QProcess::NotRunning, 60000);
        const QString output = QString::fromLocal8Bit(child.readAll());
        QVERIFY2(child.exitStatus() == QProcess::NormalExit && child.exitCode() == 0, qPrintable(output));
        QVERIFY2(output.contains(QStringLiteral("no active window")), qPrintable(output));
        QCOMPARE(connections.count(), mode == QStringLiteral("operator") ? 1 : 0);
    }
};

// The child side of activationWithoutWindowManager.
static int runActivationChild(const QString &mode)
{
    RecordingSessionControl::install();
    frmClient::TimerIntervalMs = 3600 * 1000;
    TestSupport::ProgramDir dir;
    const bool operatorMode = mode == QStringLiteral("operator");
    frmClient &f = operatorMode ? loadOperator(dir, qEnvironmentVariable("VESKORA_FRMCLIENT_PORT"), false)
                                : (gNotMaximized = true, Forms::LoadClient());
    auto fail = [&f](const char *what, int code) {
        std::printf("%s: active window %s, fraConfig %d, txtUserName enabled %d, socket %d, geometry %d,%d %dx%d\n",
                    what, QApplication::activeWindow() ? "present" : "none", f.fraConfig->isVisible(),
                    f.txtUserName->isEnabled(), f.Winsock->State(), f.x(), f.y(), f.width(), f.height());
        return code;
    };
    if (!QTest::qWaitFor([&] { return operatorMode ? !f.txtUserName->isEnabled() : f.fraConfig->isVisible(); }, 20000))
        return fail("no mode taken up", 1);
    if (QApplication::activeWindow())
        return fail("a window was activated, so this proves nothing", 2);
    if (operatorMode) {
        if (!QTest::qWaitFor([&] { return f.Winsock->State() == SocketControl::sckConnected; }, 20000))
            return fail("side link not opened", 3);
        if (f.geometry() != QRect(QPoint(0, 0), QGuiApplication::primaryScreen()->geometry().size()))
            return fail("not covering the screen", 4);
    }
    std::printf("no active window\n");
    Forms::UnloadClient();
    Forms::UnloadMsRdpClient();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    return 0;
}

int main(int argc, char **argv)
{
    const QString child = qEnvironmentVariable("VESKORA_FRMCLIENT_CHILD");
    QApplication app(argc, argv);
    if (!child.isEmpty())
        return runActivationChild(child);
    tst_frmClient test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_frmClient.moc"
