#include "client/Forms.h"
#include "client/SessionControlFactory.h"
#include "client/frmClient.h"
#include "client/frmMsRdpClient.h"
#include "platform/ErrorNumbers.h"
#include "serverlink/SocketControl.h"
#include "serverlink/modSocketCmd.h"
#include "startup/modGlobClientVar.h"
#include "system/modSystemBasic.h"

#include "../support/Panel.h"
#include "../support/RecordingSessionControl.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QScreen>
#include <QSignalBlocker>
#include <QTemporaryFile>
#include <QTest>

using namespace modGlobClientVar;
using Call = RecordingSessionControl::Call;
using TestSupport::errorOf;
using TestSupport::kWait;

namespace {

// What a fresh control receives for one connection, in order.
struct Expected
{
    qint32 fullScreen = 0, bitmap = 0, compress = 0;
    QList<qint32> performance{0}; // every value PerformanceFlags is given
    bool drives = false, ports = false, printers = false, smartCards = false, bar = false, reconnect = false;
    QString password = QStringLiteral("secret"); // null: none given
    qint32 width = 1024, height = 768;

    QList<Call> calls() const
    {
        QList<Call> c{{"Visible", false}, {"FullScreen", fullScreen}, {"BitmapPeristence", bitmap}, {"Compress", compress}};
        for (qint32 p : performance)
            c << Call{"PerformanceFlags", p};
        c << Call{"RedirectDrives", drives} << Call{"RedirectPorts", ports} << Call{"RedirectPrinters", printers}
          << Call{"RedirectSmartCards", smartCards} << Call{"DisplayConnectionBar", bar}
          << Call{"EnableAutoReconnect", reconnect} << Call{"Visible", true};
        if (!password.isNull())
            c << Call{"ClearTextPassword", password};
        return c << Call{"Server", QStringLiteral("ts.example")} << Call{"UserName", QStringLiteral("operator")}
                 << Call{"DesktopHeight", height} << Call{"DesktopWidth", width} << Call{"Connect", QVariant()};
    }
};

QByteArray requestFrame(qint32 argument)
{
    QString frame;
    modSocketCmd::BuildCommandFrame(SocketCmd{10, argument}, frame);
    return frame.toLatin1();
}

const QStringList kPerformanceBoxes{"chkDISABLE_CURSOR_SHADOW", "chkDISABLE_CURSORSETTINGS", "chkDISABLE_FULLWINDOWDRAG",
                                    "chkDISABLE_MENUANIMATIONS", "chkDISABLE_THEMING", "chkDISABLE_WALLPAPER",
                                    "chkENABLE_ENHANCED_GRAPHICS"};
const QStringList kOtherBoxes{"chkBitmap", "chkCompress", "chkRedirectDrives", "chkRedirectPorts", "chkRedirectPrinters",
                              "chkRedirectSmartCards", "chkDisplayConnectionBar", "chkEnableAutoReconnect"};

} // namespace

Q_DECLARE_METATYPE(Expected)

class tst_Connect : public QObject
{
    Q_OBJECT

    std::unique_ptr<TestSupport::ProgramDir> m_dir;
    std::unique_ptr<TestSupport::MsgBoxRecorder> m_boxes;
    frmClient *f = nullptr;

    void setBoxes(const QStringList &names, int value)
    {
        for (const QString &name : names) {
            auto *box = f->findChild<CheckBox *>(name);
            QVERIFY2(box, qPrintable(name));
            box->setValue(value);
        }
    }

    // The side link connected straight to a loopback server; returns the server's end.
    QTcpSocket *connectLink(TestSupport::LoopbackServer &server)
    {
        f->Winsock->Connect(QStringLiteral("127.0.0.1"), server.port());
        if (!QTest::qWaitFor([&] { return server.peer() && f->Winsock->State() == SocketControl::sckConnected; }, kWait))
            return nullptr;
        return server.peer();
    }

    int controls() const { return int(RecordingSessionControl::instances().size()); }

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
        f = &TestSupport::LoadPanel(*m_dir, {"AutoConnect=0"});
        // Configuration mode once the window has taken up its mode; an entry passing every check.
        QTRY_VERIFY_WITH_TIMEOUT(f->fraConfig->isVisible(), kWait);
        f->txtServer->setText(QStringLiteral("ts.example"));
        f->txtUserName->setText(QStringLiteral("operator"));
        f->txtPassword->setText(QStringLiteral("secret"));
        f->chkUserPass->setValue(1);
        f->cboResolution->setCurrentIndex(3); // "1024 x 768"
        setBoxes(kPerformanceBoxes + kOtherBoxes, 0);
        m_boxes = std::make_unique<TestSupport::MsgBoxRecorder>();
    }

    void cleanup()
    {
        m_boxes.reset();
        TestSupport::UnloadForms();
        f = nullptr;
        gUsersConfig.reset();
        m_dir.reset();
    }

    void settingsInOrder_data()
    {
        QTest::addColumn<QString>("resolution");
        QTest::addColumn<QStringList>("checked");
        QTest::addColumn<int>("value"); // what the named boxes are set to
        QTest::addColumn<QString>("password");
        QTest::addColumn<Expected>("expected");

        const Expected plain;
        QTest::newRow("1024 x 768") << "1024 x 768" << QStringList() << 1 << "secret" << plain;
        Expected full = plain;
        full.fullScreen = 1;
        full.width = 1280;
        full.height = 1024;
        QTest::newRow("Full-Screen on 1280 x 1024") << "Full-Screen" << QStringList() << 1 << "secret" << full;
        QTest::newRow("parts after the second ignored") << "1024 x 768 x 16" << QStringList() << 1 << "secret" << plain;

        Expected allPerf = plain;
        // Added in the table's order.
        allPerf.performance = {0, 0x20, 0x60, 0x62, 0x66, 0x6E, 0x6F, 0x7F};
        QTest::newRow("all performance boxes: 0x7F") << "1024 x 768" << kPerformanceBoxes << 1 << "secret" << allPerf;
        Expected wallTheme = plain;
        wallTheme.performance = {0, 0x08, 0x09};
        QTest::newRow("wallpaper and theming: 0x09")
            << "1024 x 768" << QStringList{"chkDISABLE_WALLPAPER", "chkDISABLE_THEMING"} << 1 << "secret" << wallTheme;

        Expected others = plain;
        others.bitmap = others.compress = 1;
        others.drives = others.ports = others.printers = others.smartCards = others.bar = others.reconnect = true;
        QTest::newRow("every other box") << "1024 x 768" << kOtherBoxes << 1 << "secret" << others;
        QTest::newRow("grayed boxes count as cleared")
            << "1024 x 768" << kPerformanceBoxes + kOtherBoxes << 2 << "secret" << plain;

        Expected noPassword = plain;
        noPassword.password = QString();
        QTest::newRow("empty password: none given") << "1024 x 768" << QStringList() << 1 << "" << noPassword;
    }

    void settingsInOrder()
    {
        QFETCH(QString, resolution);
        QFETCH(QStringList, checked);
        QFETCH(int, value);
        QFETCH(QString, password);
        QFETCH(Expected, expected);
        f->cboResolution->setEditText(resolution);
        f->txtPassword->setText(password);
        f->chkUserPass->setValue(password.isEmpty() ? 0 : 1);
        setBoxes(checked, value);

        f->cmdRemoteDesktop_Click();

        QVERIFY2(m_boxes->calls.isEmpty(), qPrintable(m_boxes->texts().join(QLatin1Char('|'))));
        RecordingSessionControl *control = RecordingSessionControl::last();
        QVERIFY(control);
        QCOMPARE(Forms::MsRdpClient()->msts, control);
        QCOMPARE(control->calls, expected.calls());
        QCOMPARE(f->PanelText(2), QString());
    }

    void sessionWindowPlacedAndShown_data()
    {
        QTest::addColumn<int>("resolution");
        QTest::addColumn<QSize>("desktop");
        QTest::newRow("1024 x 768") << 3 << QSize(1024, 768);
        QTest::newRow("Full-Screen") << 0 << QSize(1280, 1024);
    }

    void sessionWindowPlacedAndShown()
    {
        QFETCH(int, resolution);
        QFETCH(QSize, desktop);
        f->cboResolution->setCurrentIndex(resolution);
        f->cmdRemoteDesktop_Click();
        frmMsRdpClient *session = Forms::MsRdpClient();
        QVERIFY(!f->isVisible());
        QVERIFY(session->isVisible() && session->msts->isVisible());
        QVERIFY(gRdpStarted && !gRdpConnected);
        // Outer edges at (1, 1), as wide as the desktop, as high as the desktop plus the title bar.
        QCOMPARE(session->frameGeometry(),
                 QRect(1, 1, desktop.width(), desktop.height() + modSystemBasic::GetTitleBarHeight()));
        QTRY_COMPARE(session->msts->geometry(), session->rect()); // the control fills the window
    }

    void freshControlForEveryConnection()
    {
        f->cmdRemoteDesktop_Click();
        QPointer<RecordingSessionControl> first = RecordingSessionControl::last();
        QVERIFY(first);
        first->raiseConnected();
        QVERIFY(gRdpConnected);
        first->raiseDisconnected(2);
        QVERIFY(f->isVisible() && !gRdpStarted);

        const int before = controls();
        f->cmdRemoteDesktop_Click();
        QCOMPARE(controls(), before + 1);
        QVERIFY(!first); // gone with its window
        RecordingSessionControl *second = RecordingSessionControl::last();
        QCOMPARE(Forms::MsRdpClient()->msts, second);
        QCOMPARE(f->mRdpNonScriptable, second->NonScriptable());
        QCOMPARE(second->callNames().count(QStringLiteral("Connect")), 1);
        QVERIFY(gRdpStarted && !gRdpConnected);

        // The server may order a new connection while one runs: the old window goes first.
        second->raiseConnected();
        f->ConnectToServer();
        QVERIFY(gRdpStarted && !gRdpConnected);
    }

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

        const QString button = QStringLiteral("cmdRemoteDesktop"), res = QStringLiteral("cboResolution");
        const QString chooseRes = QStringLiteral("Please choose a Resolution");
        QTest::newRow("everything empty: server first")
            << "" << "" << "" << 1 << 0 << "" << "Please enter a Server address" << "txtServer";
        QTest::newRow("user empty") << "ts" << "" << "" << 0 << 1 << "" << "Please enter a UserName" << "txtUserName";
        QTest::newRow("password missing") << "ts" << "op" << "" << 1 << 0 << "" << "Please enter a Password" << button;
        QTest::newRow("password without the box, server in charge")
            << "ts" << "op" << "pw" << 0 << 1 << "1024 x 768" << "Please check the Use Password Check Box" << button;
        QTest::newRow("resolution empty") << "ts" << "op" << "pw" << 1 << 0 << "" << chooseRes << res;
        QTest::newRow("resolution too large") << "ts" << "op" << "pw" << 1 << 0 << "99999999999 x 768" << chooseRes << res;
        QTest::newRow("resolution without blanks") << "ts" << "op" << "pw" << 1 << 0 << "1024x768" << chooseRes << res;
        QTest::newRow("resolution upper-case X") << "ts" << "op" << "pw" << 1 << 0 << "1024 X 768" << chooseRes << res;
        QTest::newRow("full screen in another case") << "ts" << "op" << "pw" << 1 << 0 << "full-screen" << chooseRes << res;
        QTest::newRow("resolution checked with the server in charge too")
            << "ts" << "op" << "" << 1 << 1 << "wide" << chooseRes << res;
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
        f->txtServer->setText(server);
        f->txtUserName->setText(user);
        f->txtPassword->setText(password);
        f->chkUserPass->setValue(userPass);
        f->chkAutoConnect->setValue(autoConnect);
        f->cboResolution->setEditText(resolution);
        f->cmdRemoteDesktop->setFocus();
        const int before = controls();
        frmMsRdpClient *session = Forms::MsRdpClient();

        f->cmdRemoteDesktop_Click();

        QCOMPARE(m_boxes->texts(), QStringList{message});
        QCOMPARE(m_boxes->calls.first().style, int(MsgBox::OkOnly));
        QCOMPARE(m_boxes->calls.first().caption, MsgBox::AppTitle);
        QTEST(f->focusWidget() ? f->focusWidget()->objectName() : QString(), "focus");
        // Nothing opened, nothing sent.
        QCOMPARE(controls(), before);
        QCOMPARE(Forms::MsRdpClient(), session);
        QVERIFY(f->isVisible() && !gRdpStarted);
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

    void requestCarriesTheSelectedProfile_data()
    {
        QTest::addColumn<int>("selected");
        QTest::addColumn<int>("argument");
        QTest::newRow("third of three") << 2 << 3;
        QTest::newRow("first of three") << 0 << 1;
        QTest::newRow("list without a selection") << -1 << 0;
    }

    void requestCarriesTheSelectedProfile()
    {
        QFETCH(int, selected);
        QFETCH(int, argument);
        TestSupport::LoopbackServer server;
        QTcpSocket *peer = connectLink(server);
        QVERIFY(peer);
        TestSupport::ReceiveSeries(*f, {{"anna", "", 3}, {"bert", "", 3}, {"carl", "", 3}});
        {
            const QSignalBlocker quiet(f->cboUsername);
            f->cboUsername->setCurrentIndex(selected);
        }
        f->chkAutoConnect->setValue(1);
        f->txtPassword->setText(QStringLiteral("pw"));
        f->chkUserPass->setValue(0); // with a password: refused, and nothing sent
        f->cmdRemoteDesktop_Click();
        QCOMPARE(m_boxes->texts(), QStringList{QStringLiteral("Please check the Use Password Check Box")});
        f->chkUserPass->setValue(1);
        f->txtPassword->clear(); // accepted with the server in charge
        const int before = controls();

        f->cmdRemoteDesktop_Click();

        // The valid request is the first thing the server hears.
        QTRY_COMPARE_WITH_TIMEOUT(server.received, requestFrame(argument), kWait);
        QCOMPARE(m_boxes->calls.size(), 1);
        // Only asked: the session starts when the server answers.
        QCOMPARE(controls(), before);
        QVERIFY(f->isVisible() && !gRdpStarted);
    }

    void linkDownShowsTheErrorAndReopens()
    {
        // What the socket says when asked to send while closed.
        QString expected;
        try {
            SocketControl().SendData(QStringLiteral("x"));
        } catch (const VbError &e) {
            expected = e.statusText();
        }
        QVERIFY(expected.startsWith(QStringLiteral("error:")));

        TestSupport::LoopbackServer server;
        f->txtServer->setText(QStringLiteral("127.0.0.1"));
        f->txtPort->setText(QString::number(server.port()));
        f->chkAutoConnect->setValue(1);
        QCOMPARE(f->Winsock->State(), qint32(SocketControl::sckClosed));

        f->cmdRemoteDesktop_Click();

        QVERIFY(m_boxes->calls.isEmpty());
        QCOMPARE(f->PanelText(2), expected);
        QTRY_VERIFY_WITH_TIMEOUT(server.peer(), kWait); // opened again, to the configured server
        QVERIFY(f->isVisible() && !gRdpStarted);
    }

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
        // The operator is not left in front of an empty session window: it goes back as an
        // ended session does.
        QCOMPARE(names.mid(names.size() - 2), (QStringList{"DesktopHeight", "Visible"}));
        QCOMPARE(RecordingSessionControl::last()->calls.last().second, QVariant(false));
        QVERIFY(!names.contains(QStringLiteral("Connect")));
        QVERIFY(f->isVisible() && !Forms::MsRdpClient()->isVisible() && !gRdpStarted);
    }

    void unusableResolutionFromTheServerChangesNoWindow()
    {
        f->cboResolution->setEditText(QStringLiteral("800"));
        frmMsRdpClient *session = Forms::MsRdpClient();
        const int before = controls();
        QCOMPARE(errorOf([&] { f->ConnectToServer(); }), ErrorNumbers::InvalidPropertyValue.number);
        QCOMPARE(Forms::MsRdpClient(), session);
        QCOMPARE(controls(), before);
        QVERIFY(f->isVisible() && !session->isVisible() && !gRdpStarted);
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
