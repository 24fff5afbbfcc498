#include "client/Forms.h"
#include "client/SessionControlFactory.h"
#include "client/frmClient.h"
#include "client/frmMsRdpClient.h"
#include "platform/ErrorNumbers.h"
#include "serverlink/SocketControl.h"
#include "serverlink/modSocketCmd.h"
#include "startup/modGlobClientVar.h"
#include "system/modSystemBasic.h"

#include "../support/RecordingSessionControl.h"
#include "../support/TestSupport.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFrame>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QScreen>
#include <QSignalBlocker>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryFile>
#include <QTest>

using namespace modGlobClientVar;
using Call = RecordingSessionControl::Call;

namespace {

constexpr int kWait = 5000;

// What a fresh control receives for one connection, in order.
struct Expected
{
    qint32 fullScreen = 0;
    qint32 bitmap = 0;
    qint32 compress = 0;
    QList<qint32> performance{0}; // every value PerformanceFlags is given
    bool drives = false, ports = false, printers = false, smartCards = false, bar = false, reconnect = false;
    QString password; // null: none given
    QString server = QStringLiteral("ts.example");
    QString user = QStringLiteral("operator");
    qint32 width = 1024, height = 768;

    QList<Call> calls() const
    {
        QList<Call> c;
        c << Call{"Visible", false}; // hidden until a connection is prepared
        c << Call{"FullScreen", fullScreen} << Call{"BitmapPeristence", bitmap} << Call{"Compress", compress};
        for (qint32 p : performance)
            c << Call{"PerformanceFlags", p};
        c << Call{"RedirectDrives", drives} << Call{"RedirectPorts", ports} << Call{"RedirectPrinters", printers}
          << Call{"RedirectSmartCards", smartCards} << Call{"DisplayConnectionBar", bar}
          << Call{"EnableAutoReconnect", reconnect};
        c << Call{"Visible", true};
        if (!password.isNull())
            c << Call{"ClearTextPassword", password};
        c << Call{"Server", server} << Call{"UserName", user} << Call{"DesktopHeight", height}
          << Call{"DesktopWidth", width} << Call{"Connect", QVariant()};
        return c;
    }
};

QString describe(const QList<Call> &calls)
{
    QStringList s;
    for (const Call &c : calls)
        s << c.first + QLatin1Char('=') + c.second.toString();
    return s.join(QStringLiteral(", "));
}

QByteArray requestFrame(qint32 argument)
{
    QString frame;
    modSocketCmd::BuildCommandFrame(SocketCmd{10, argument}, frame);
    return frame.toLatin1();
}

} // namespace

Q_DECLARE_METATYPE(Expected)

class tst_Connect : public QObject
{
    Q_OBJECT

    std::unique_ptr<TestSupport::ProgramDir> m_dir;
    std::unique_ptr<TestSupport::MsgBoxRecorder> m_boxes;
    frmClient *f = nullptr;

    QList<CheckBox *> optionBoxes() const
    {
        return {f->chkDISABLE_CURSOR_SHADOW, f->chkDISABLE_CURSORSETTINGS, f->chkDISABLE_FULLWINDOWDRAG,
                f->chkDISABLE_MENUANIMATIONS, f->chkDISABLE_THEMING,       f->chkDISABLE_WALLPAPER,
                f->chkENABLE_ENHANCED_GRAPHICS, f->chkBitmap,              f->chkCompress,
                f->chkRedirectDrives,          f->chkRedirectPorts,        f->chkRedirectPrinters,
                f->chkRedirectSmartCards,      f->chkDisplayConnectionBar, f->chkEnableAutoReconnect};
    }

    // An entry that passes every check, in configuration mode.
    void fillValidEntry()
    {
        f->chkAutoConnect->setValue(0);
        f->txtServer->setText(QStringLiteral("ts.example"));
        f->txtUserName->setText(QStringLiteral("operator"));
        f->txtPassword->setText(QStringLiteral("secret"));
        f->chkUserPass->setValue(1);
        f->cboResolution->setCurrentIndex(3); // "1024 x 768"
        for (CheckBox *b : optionBoxes())
            b->setValue(0);
    }

    // The side link connected straight to a loopback server; returns the server's end.
    QTcpSocket *connectLink(QTcpServer &server)
    {
        if (!server.listen(QHostAddress::LocalHost))
            return nullptr;
        f->Winsock->Connect(QStringLiteral("127.0.0.1"), server.serverPort());
        if (!QTest::qWaitFor([&] { return server.hasPendingConnections(); }, kWait))
            return nullptr;
        QTcpSocket *peer = server.nextPendingConnection();
        if (!QTest::qWaitFor([&] { return f->Winsock->State() == SocketControl::sckConnected; }, kWait))
            return nullptr;
        return peer;
    }

    // Profiles in the list, as the side link would have delivered them.
    void listProfiles(const QStringList &names)
    {
        for (int i = 0; i < names.size(); ++i)
            f->ReceiveUserProfile(i + 1, names[i], QString(), 3);
        f->ShowUserList();
    }

private slots:
    void initTestCase()
    {
        frmClient::TimerIntervalMs = 3600 * 1000;
        QCOMPARE(QGuiApplication::primaryScreen()->geometry().size(), QSize(1280, 1024));
    }

    void init()
    {
        RecordingSessionControl::install();
        gRdpStarted = false;
        gRdpConnected = false;
        gUsersConfig.reset();
        m_dir = std::make_unique<TestSupport::ProgramDir>();
        m_dir->write(QStringLiteral("Client.cfg"), {QStringLiteral("[Client]"), QStringLiteral("AutoConnect=0")});
        f = &Forms::LoadClient();
        // Configuration mode once the window has taken up its mode.
        QTRY_VERIFY_WITH_TIMEOUT(f->fraConfig->isVisible(), kWait);
        fillValidEntry();
        m_boxes = std::make_unique<TestSupport::MsgBoxRecorder>();
    }

    void cleanup()
    {
        m_boxes.reset();
        Forms::UnloadClient();
        Forms::UnloadMsRdpClient();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        f = nullptr;
        gUsersConfig.reset();
        m_dir.reset();
    }

    // --- the settings the control receives

    void settingsInOrder_data()
    {
        QTest::addColumn<QString>("resolution");
        QTest::addColumn<QStringList>("checked");
        QTest::addColumn<QString>("password");
        QTest::addColumn<int>("userPass");
        QTest::addColumn<Expected>("expected");

        Expected plain;
        plain.password = QStringLiteral("secret");
        QTest::newRow("1024 x 768") << "1024 x 768" << QStringList() << "secret" << 1 << plain;

        Expected full = plain;
        full.fullScreen = 1;
        full.width = 1280;
        full.height = 1024;
        QTest::newRow("Full-Screen on 1280 x 1024") << "Full-Screen" << QStringList() << "secret" << 1 << full;

        Expected small = plain;
        small.width = 640;
        small.height = 480;
        QTest::newRow("640 x 480") << "640 x 480" << QStringList() << "secret" << 1 << small;

        Expected allPerf = plain;
        // Added in the table's order: shadow, cursor settings, window drag, menus, theming,
        // wallpaper, enhanced graphics.
        allPerf.performance = {0, 0x20, 0x60, 0x62, 0x66, 0x6E, 0x6F, 0x7F};
        QTest::newRow("all performance boxes: 0x7F")
            << "1024 x 768"
            << QStringList{"chkDISABLE_CURSOR_SHADOW",   "chkDISABLE_CURSORSETTINGS", "chkDISABLE_FULLWINDOWDRAG",
                           "chkDISABLE_MENUANIMATIONS",  "chkDISABLE_THEMING",        "chkDISABLE_WALLPAPER",
                           "chkENABLE_ENHANCED_GRAPHICS"}
            << "secret" << 1 << allPerf;

        Expected wallTheme = plain;
        wallTheme.performance = {0, 0x08, 0x09};
        QTest::newRow("wallpaper and theming: 0x09")
            << "1024 x 768" << QStringList{"chkDISABLE_WALLPAPER", "chkDISABLE_THEMING"} << "secret" << 1 << wallTheme;

        Expected redirect = plain;
        redirect.drives = true;
        redirect.printers = true;
        redirect.reconnect = true;
        QTest::newRow("drives, printers, reconnect")
            << "1024 x 768" << QStringList{"chkRedirectDrives", "chkRedirectPrinters", "chkEnableAutoReconnect"}
            << "secret" << 1 << redirect;

        Expected others = plain;
        others.ports = true;
        others.smartCards = true;
        others.bar = true;
        others.bitmap = 1;
        others.compress = 1;
        QTest::newRow("ports, smart cards, bar, bitmap, compress")
            << "1024 x 768"
            << QStringList{"chkRedirectPorts", "chkRedirectSmartCards", "chkDisplayConnectionBar", "chkBitmap",
                           "chkCompress"}
            << "secret" << 1 << others;

        Expected noPassword = plain;
        noPassword.password = QString();
        QTest::newRow("empty password: none given") << "1024 x 768" << QStringList() << "" << 0 << noPassword;

        Expected extra = plain;
        QTest::newRow("parts after the second ignored") << "1024 x 768 x 16" << QStringList() << "secret" << 1 << extra;
    }

    void settingsInOrder()
    {
        QFETCH(QString, resolution);
        QFETCH(QStringList, checked);
        QFETCH(QString, password);
        QFETCH(int, userPass);
        QFETCH(Expected, expected);
        f->cboResolution->setEditText(resolution);
        f->txtPassword->setText(password);
        f->chkUserPass->setValue(userPass);
        for (const QString &name : checked) {
            auto *box = f->findChild<CheckBox *>(name);
            QVERIFY2(box, qPrintable(name));
            box->setValue(1);
        }

        f->cmdRemoteDesktop_Click();

        QVERIFY2(m_boxes->calls.isEmpty(), qPrintable(m_boxes->texts().join(QLatin1Char('|'))));
        RecordingSessionControl *control = RecordingSessionControl::last();
        QVERIFY(control);
        QCOMPARE(Forms::MsRdpClient()->msts, control);
        const QList<Call> want = expected.calls();
        QVERIFY2(control->calls == want,
                 qPrintable(QStringLiteral("got  %1\nwant %2").arg(describe(control->calls), describe(want))));
        QCOMPARE(f->PanelText(2), QString());
    }

    void grayedBoxesCountAsCleared()
    {
        for (CheckBox *b : optionBoxes())
            b->setValue(2);
        f->cmdRemoteDesktop_Click();
        Expected e;
        e.password = QStringLiteral("secret");
        QVERIFY2(RecordingSessionControl::last()->calls == e.calls(), qPrintable(describe(RecordingSessionControl::last()->calls)));
    }

    // --- windows and flags

    void sessionWindowPlacedAndShown()
    {
        f->cmdRemoteDesktop_Click();
        frmMsRdpClient *session = Forms::MsRdpClient();
        QVERIFY(session);
        QVERIFY(!f->isVisible());
        QVERIFY(session->isVisible());
        QVERIFY(session->msts->isVisible());
        QCOMPARE(gRdpStarted, true);
        QCOMPARE(gRdpConnected, false);
        // Outer edges: at (1, 1), as wide as the desktop, as high as the desktop plus the
        // title bar.
        QCOMPARE(session->frameGeometry(), QRect(1, 1, 1024, 768 + modSystemBasic::GetTitleBarHeight()));
        // The control fills the window.
        QTRY_COMPARE(session->msts->geometry(), session->rect());
    }

    void fullScreenWindow()
    {
        f->cboResolution->setCurrentIndex(0);
        f->cmdRemoteDesktop_Click();
        frmMsRdpClient *session = Forms::MsRdpClient();
        QCOMPARE(session->frameGeometry(), QRect(1, 1, 1280, 1024 + modSystemBasic::GetTitleBarHeight()));
        QCOMPARE(f->mDesktopWidth, QStringLiteral("1280"));
        QCOMPARE(f->mDesktopHeight, QStringLiteral("1024"));
    }

    void freshControlForEveryConnection()
    {
        f->cmdRemoteDesktop_Click();
        QPointer<RecordingSessionControl> first = RecordingSessionControl::last();
        QVERIFY(first);
        QCOMPARE(f->mRdpNonScriptable, first->NonScriptable());
        first->raiseConnected();
        QCOMPARE(gRdpConnected, true);
        first->raiseDisconnected(2);
        QVERIFY(f->isVisible());
        QCOMPARE(gRdpStarted, false);

        const int before = RecordingSessionControl::instances().size();
        f->cmdRemoteDesktop_Click();
        QCOMPARE(RecordingSessionControl::instances().size(), before + 1);
        QVERIFY(!first); // gone with its window
        RecordingSessionControl *second = RecordingSessionControl::last();
        QCOMPARE(Forms::MsRdpClient()->msts, second);
        QCOMPARE(f->mRdpNonScriptable, second->NonScriptable());
        QCOMPARE(second->callNames().count(QStringLiteral("Connect")), 1);
        QCOMPARE(gRdpStarted, true);
        QCOMPARE(gRdpConnected, false);
    }

    void reconnectWhileConnectedClearsTheConnectedFlag()
    {
        f->cmdRemoteDesktop_Click();
        RecordingSessionControl::last()->raiseConnected();
        QCOMPARE(gRdpConnected, true);
        // The server may order a new connection while one runs: the old window goes first.
        f->ConnectToServer();
        QCOMPARE(gRdpStarted, true);
        QCOMPARE(gRdpConnected, false);
    }

    // --- the checks

    void validation_data()
    {
        QTest::addColumn<QString>("server");
        QTest::addColumn<QString>("user");
        QTest::addColumn<QString>("password");
        QTest::addColumn<int>("userPass");
        QTest::addColumn<int>("autoConnect");
        QTest::addColumn<QString>("resolution");
        QTest::addColumn<QString>("message");
        QTest::addColumn<QString>("focus"); // where the focus is afterwards

        const QString button = QStringLiteral("cmdRemoteDesktop");
        QTest::newRow("everything empty: server first")
            << "" << "" << "" << 1 << 0 << "" << "Please enter a Server address" << "txtServer";
        QTest::newRow("server empty") << "" << "op" << "pw" << 1 << 0 << "1024 x 768" << "Please enter a Server address"
                                      << "txtServer";
        QTest::newRow("user empty") << "ts" << "" << "" << 0 << 1 << "" << "Please enter a UserName" << "txtUserName";
        QTest::newRow("password missing") << "ts" << "op" << "" << 1 << 0 << "" << "Please enter a Password" << button;
        QTest::newRow("password without the box") << "ts" << "op" << "pw" << 0 << 0 << ""
                                                   << "Please check the Use Password Check Box" << button;
        QTest::newRow("password without the box, server in charge")
            << "ts" << "op" << "pw" << 0 << 1 << "1024 x 768" << "Please check the Use Password Check Box" << button;
        QTest::newRow("resolution empty") << "ts" << "op" << "pw" << 1 << 0 << "" << "Please choose a Resolution"
                                          << "cboResolution";
        QTest::newRow("resolution a word") << "ts" << "op" << "pw" << 1 << 0 << "big" << "Please choose a Resolution"
                                           << "cboResolution";
        QTest::newRow("resolution without blanks") << "ts" << "op" << "pw" << 1 << 0 << "1024x768"
                                                   << "Please choose a Resolution" << "cboResolution";
        QTest::newRow("resolution upper-case X") << "ts" << "op" << "pw" << 1 << 0 << "1024 X 768"
                                                 << "Please choose a Resolution" << "cboResolution";
        QTest::newRow("resolution height a word") << "ts" << "op" << "pw" << 1 << 0 << "1024 x high"
                                                  << "Please choose a Resolution" << "cboResolution";
        QTest::newRow("resolution too large") << "ts" << "op" << "pw" << 1 << 0 << "99999999999 x 768"
                                              << "Please choose a Resolution" << "cboResolution";
        QTest::newRow("full screen in another case") << "ts" << "op" << "pw" << 1 << 0 << "full-screen"
                                                     << "Please choose a Resolution" << "cboResolution";
        QTest::newRow("resolution checked with the server in charge too")
            << "ts" << "op" << "" << 1 << 1 << "wide" << "Please choose a Resolution" << "cboResolution";
    }

    void validation()
    {
        QFETCH(QString, server);
        QFETCH(QString, user);
        QFETCH(QString, password);
        QFETCH(int, userPass);
        QFETCH(int, autoConnect);
        QFETCH(QString, resolution);
        QFETCH(QString, message);
        QFETCH(QString, focus);
        f->txtServer->setText(server);
        f->txtUserName->setText(user);
        f->txtPassword->setText(password);
        f->chkUserPass->setValue(userPass);
        f->chkAutoConnect->setValue(autoConnect);
        f->cboResolution->setEditText(resolution);
        f->cmdRemoteDesktop->setFocus();
        const int controls = RecordingSessionControl::instances().size();
        frmMsRdpClient *session = Forms::MsRdpClient();

        f->cmdRemoteDesktop_Click();

        QCOMPARE(m_boxes->texts(), QStringList{message});
        const MsgBox::Call box = m_boxes->calls.first();
        QCOMPARE(box.style, int(MsgBox::OkOnly));
        QCOMPARE(box.caption, MsgBox::AppTitle);
        QCOMPARE(f->focusWidget() ? f->focusWidget()->objectName() : QString(), focus);
        // Nothing opened, nothing sent.
        QCOMPARE(RecordingSessionControl::instances().size(), controls);
        QCOMPARE(Forms::MsRdpClient(), session);
        QVERIFY(f->isVisible());
        QCOMPARE(gRdpStarted, false);
        QCOMPARE(f->PanelText(2), QString());
    }

    void focusOnlyWhereItCanGo()
    {
        f->txtServer->clear();
        f->txtServer->setEnabled(false);
        f->cmdRemoteDesktop->setFocus();
        f->cmdRemoteDesktop_Click();
        QCOMPARE(m_boxes->texts(), QStringList{QStringLiteral("Please enter a Server address")});
        QCOMPARE(f->focusWidget(), f->cmdRemoteDesktop);
    }

    void grayedUsePasswordNeedsNoPassword()
    {
        // Only a checked box asks for a password, only a cleared one refuses it.
        f->txtPassword->clear();
        f->chkUserPass->setValue(2);
        f->cmdRemoteDesktop_Click();
        QVERIFY(m_boxes->calls.isEmpty());
        QCOMPARE(RecordingSessionControl::last()->callNames().count(QStringLiteral("Connect")), 1);
    }

    // --- with the server in charge

    void requestCarriesTheSelectedProfile_data()
    {
        QTest::addColumn<QStringList>("profiles");
        QTest::addColumn<int>("selected");
        QTest::addColumn<int>("argument");
        QTest::newRow("third of three") << QStringList{"anna", "bert", "carl"} << 2 << 3;
        QTest::newRow("first of three") << QStringList{"anna", "bert", "carl"} << 0 << 1;
        QTest::newRow("list without a selection") << QStringList{"anna", "bert"} << -1 << 0;
        QTest::newRow("no profiles") << QStringList() << -1 << 0;
    }

    void requestCarriesTheSelectedProfile()
    {
        QFETCH(QStringList, profiles);
        QFETCH(int, selected);
        QFETCH(int, argument);
        QTcpServer server;
        QTcpSocket *peer = connectLink(server);
        QVERIFY(peer);
        if (!profiles.isEmpty())
            listProfiles(profiles);
        {
            const QSignalBlocker quiet(f->cboUsername);
            f->cboUsername->setCurrentIndex(selected);
        }
        f->txtUserName->setText(QStringLiteral("operator"));
        f->txtPassword->clear(); // accepted with the server in charge
        f->chkUserPass->setValue(1);
        f->chkAutoConnect->setValue(1);
        const int controls = RecordingSessionControl::instances().size();

        f->cmdRemoteDesktop_Click();

        QByteArray received;
        QTRY_VERIFY_WITH_TIMEOUT((received += peer->readAll()).size() >= requestFrame(argument).size(), kWait);
        QCOMPARE(received, requestFrame(argument));
        QVERIFY(m_boxes->calls.isEmpty());
        // Only asked: the session starts when the server answers.
        QCOMPARE(RecordingSessionControl::instances().size(), controls);
        QVERIFY(f->isVisible());
        QCOMPARE(gRdpStarted, false);
    }

    void failedCheckSendsNothing()
    {
        QTcpServer server;
        QTcpSocket *peer = connectLink(server);
        QVERIFY(peer);
        f->chkAutoConnect->setValue(1);
        f->chkUserPass->setValue(0); // with a password: refused
        f->cmdRemoteDesktop_Click();
        QCOMPARE(m_boxes->texts(), QStringList{QStringLiteral("Please check the Use Password Check Box")});

        // The next, valid request is the first thing the server hears.
        f->chkUserPass->setValue(1);
        f->cmdRemoteDesktop_Click();
        QByteArray received;
        QTRY_VERIFY_WITH_TIMEOUT((received += peer->readAll()).size() >= requestFrame(0).size(), kWait);
        QCOMPARE(received, requestFrame(0));
    }

    void linkDownShowsTheErrorAndReopens()
    {
        // What the socket says when asked to send while closed.
        QString expected;
        {
            SocketControl probe;
            try {
                probe.SendData(QStringLiteral("x"));
            } catch (const VbError &e) {
                expected = e.statusText();
            }
        }
        QVERIFY(expected.startsWith(QStringLiteral("error:")));

        QTcpServer server;
        QVERIFY(server.listen(QHostAddress::LocalHost));
        f->txtServer->setText(QStringLiteral("127.0.0.1"));
        f->txtPort->setText(QString::number(server.serverPort()));
        f->chkAutoConnect->setValue(1);
        QCOMPARE(f->Winsock->State(), qint32(SocketControl::sckClosed));

        f->cmdRemoteDesktop_Click();

        QVERIFY(m_boxes->calls.isEmpty());
        QCOMPARE(f->PanelText(2), expected);
        // The side link is opened again, to the configured server.
        QTRY_VERIFY_WITH_TIMEOUT(server.hasPendingConnections(), kWait);
        QCOMPARE(gRdpStarted, false);
        QVERIFY(f->isVisible());
    }

    // --- errors of the connection

    void refusedSettingEndsTheConnectionAndIsShown()
    {
        SessionControlFactory::Set([](QWidget *parent) {
            auto *c = new RecordingSessionControl(parent);
            c->refuseSetting = QStringLiteral("DesktopWidth");
            return c;
        });
        f->cmdRemoteDesktop_Click();
        QCOMPARE(f->PanelText(2), QStringLiteral("error:%1 %2")
                                      .arg(ErrorNumbers::InvalidPropertyValue.number)
                                      .arg(QLatin1String(ErrorNumbers::InvalidPropertyValue.description)));
        QVERIFY(m_boxes->calls.isEmpty());
        const QStringList names = RecordingSessionControl::last()->callNames();
        QCOMPARE(names.last(), QStringLiteral("DesktopHeight"));
        QVERIFY(!names.contains(QStringLiteral("Connect")));
        // The steps already done stay done.
        QCOMPARE(gRdpStarted, true);
        QVERIFY(!f->isVisible());
    }

    void unusableResolutionFromTheServerChangesNoWindow_data()
    {
        QTest::addColumn<QString>("resolution");
        QTest::newRow("nothing selected") << "";
        QTest::newRow("a word") << "big";
        QTest::newRow("no height") << "800";
    }

    void unusableResolutionFromTheServerChangesNoWindow()
    {
        QFETCH(QString, resolution);
        f->cboResolution->setEditText(resolution);
        frmMsRdpClient *session = Forms::MsRdpClient();
        const int controls = RecordingSessionControl::instances().size();
        int error = 0;
        try {
            f->ConnectToServer();
        } catch (const VbError &e) {
            error = e.number();
        }
        QCOMPARE(error, ErrorNumbers::InvalidPropertyValue.number);
        QCOMPARE(Forms::MsRdpClient(), session);
        QCOMPARE(RecordingSessionControl::instances().size(), controls);
        QVERIFY(f->isVisible());
        QVERIFY(!session->isVisible());
        QCOMPARE(gRdpStarted, false);
    }

    // --- the desktop size

    void resolutionSize_data()
    {
        QTest::addColumn<QString>("resolution");
        QTest::addColumn<QString>("width");
        QTest::addColumn<QString>("height");
        QTest::addColumn<qint32>("fullScreen");
        QTest::newRow("Full-Screen") << "Full-Screen" << "1280" << "1024" << 1;
        QTest::newRow("800 x 600") << "800 x 600" << "800" << "600" << 0;
        QTest::newRow("1152 x 864") << "1152 x 864" << "1152" << "864" << 0;
        QTest::newRow("text kept as it is") << "01024 x 768 " << "01024" << "768 " << 0;
        QTest::newRow("third part ignored") << "1280 x 1024 x 32" << "1280" << "1024" << 0;
    }

    void resolutionSize()
    {
        QFETCH(QString, resolution);
        f->cboResolution->setEditText(resolution);
        // Using the control loads the session window when it is not loaded.
        Forms::UnloadMsRdpClient();
        f->ResolutionSize();
        QVERIFY(Forms::MsRdpClient());
        QCOMPARE(f->mResolution, resolution);
        QTEST(f->mDesktopWidth, "width");
        QTEST(f->mDesktopHeight, "height");
        auto *control = qobject_cast<RecordingSessionControl *>(Forms::MsRdpClient()->msts);
        QVERIFY(control);
        QTEST(control->lastValue(QStringLiteral("FullScreen")).toInt(), "fullScreen");
        QCOMPARE(f->mServer, QStringLiteral("ts.example"));
        QCOMPARE(f->mUserName, QStringLiteral("operator"));
        QCOMPARE(f->mPassword, QStringLiteral("secret"));
    }

    void resolutionSizeWithoutHeightIsAnError()
    {
        f->cboResolution->setEditText(QStringLiteral("1024"));
        int error = 0;
        try {
            f->ResolutionSize();
        } catch (const VbError &e) {
            error = e.number();
        }
        QCOMPARE(error, ErrorNumbers::SubscriptOutOfRange.number);
    }
};

int main(int argc, char **argv)
{
    // A panel screen of 1280 x 1024 at 96 dots per inch, with window frames.
    QTemporaryFile config(QDir::tempPath() + QStringLiteral("/tst_Connect-XXXXXX.json"));
    if (!config.open())
        return 1;
    config.write(R"({"windowFrameMargins": true, "screens": [{"name": "panel", "x": 0, "y": 0,
                 "width": 1280, "height": 1024, "logicalDpi": 96, "logicalBaseDpi": 96, "dpr": 1}]})");
    config.close();
    qputenv("QT_QPA_PLATFORM", "offscreen:configfile=" + QFile::encodeName(config.fileName()));
    QApplication app(argc, argv);
    tst_Connect test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_Connect.moc"
