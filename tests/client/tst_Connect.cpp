#include "client/Forms.h"
#include "client/SessionControlFactory.h"
#include "client/frmClient.h"
#include "client/frmMsRdpClient.h"
#include "platform/ErrorNumbers.h"
#include "serverlink/SocketControl.h"
#include "settings/modGlobClientVar.h"

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

const QStringList kPerformanceBoxes{"chkDISABLE_CURSOR_SHADOW", "chkDISABLE_CURSORSETTINGS", "chkDISABLE_FULLWINDOWDRAG",
                                    "chkDISABLE_MENUANIMATIONS", "chkDISABLE_THEMING", "chkDISABLE_WALLPAPER",
                                    "chkENABLE_ENHANCED_GRAPHICS"};
const QStringList kOtherBoxes{"chkBitmap", "chkCompress", "chkRedirectDrives", "chkRedirectPorts", "chkRedirectPrinters",
                              "chkRedirectSmartCards", "chkDisplayConnectionBar", "chkEnableAutoReconnect"};

// "name=value" for each of the boxes.
QStringList valued(const QStringList &boxes, int value)
{
    QStringList fields;
    for (const QString &box : boxes)
        fields << box + QLatin1Char('=') + QString::number(value);
    return fields;
}

} // namespace

Q_DECLARE_METATYPE(Expected)

class tst_Connect : public QObject
{
    Q_OBJECT

    std::unique_ptr<TestSupport::ProgramDir> m_dir;
    std::unique_ptr<TestSupport::MsgBoxRecorder> m_boxes;
    frmClient *f = nullptr;

    // Fills in the window: "txtServer=ts" types, "chkUserPass=2" sets a box, "cboResolution=..." edits the list.
    void enter(const QStringList &fields)
    {
        for (const QString &field : fields) {
            const QString name = field.section(QLatin1Char('='), 0, 0), value = field.section(QLatin1Char('='), 1);
            QWidget *w = f->findChild<QWidget *>(name);
            QVERIFY2(w, qPrintable(name));
            if (auto *box = qobject_cast<CheckBox *>(w))
                box->setValue(value.toInt());
            else if (auto *line = qobject_cast<QLineEdit *>(w))
                line->setText(value);
            else
                qobject_cast<QComboBox *>(w)->setEditText(value);
        }
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
        gRdpStarted = gRdpConnected = false;
        gUsersConfig.reset();
        m_dir = std::make_unique<TestSupport::ProgramDir>();
        f = &TestSupport::LoadPanel(*m_dir, {"AutoConnect=0"});
        // Configuration mode once the window has taken up its mode; an entry passing every check.
        QTRY_VERIFY_WITH_TIMEOUT(f->fraConfig->isVisible(), kWait);
        f->cboResolution->setCurrentIndex(3); // "1024 x 768"
        enter(QStringList{"txtServer=ts.example", "txtUserName=operator", "txtPassword=secret", "chkUserPass=1"}
              + valued(kPerformanceBoxes + kOtherBoxes, 0));
        m_boxes = std::make_unique<TestSupport::MsgBoxRecorder>();
    }

    void cleanup()
    {
        m_boxes.reset();
        TestSupport::UnloadForms();
        f = nullptr;
        m_dir.reset();
    }

    void settingsInOrder_data()
    {
        QTest::addColumn<QStringList>("fields");
        QTest::addColumn<Expected>("expected");

        QTest::newRow("1024 x 768") << QStringList() << Expected{};
        QTest::newRow("Full-Screen on 1280 x 1024")
            << QStringList{"cboResolution=Full-Screen"} << Expected{.fullScreen = 1, .width = 1280, .height = 1024};
        QTest::newRow("parts after the second ignored") << QStringList{"cboResolution=1024 x 768 x 16"} << Expected{};
        // Added in the table's order.
        QTest::newRow("all performance boxes: 0x7F")
            << valued(kPerformanceBoxes, 1) << Expected{.performance = {0, 0x20, 0x60, 0x62, 0x66, 0x6E, 0x6F, 0x7F}};
        QTest::newRow("wallpaper and theming: 0x09")
            << valued({"chkDISABLE_WALLPAPER", "chkDISABLE_THEMING"}, 1) << Expected{.performance = {0, 0x08, 0x09}};
        QTest::newRow("every other box")
            << valued(kOtherBoxes, 1)
            << Expected{.bitmap = 1, .compress = 1, .drives = true, .ports = true, .printers = true, .smartCards = true,
                        .bar = true, .reconnect = true};
        QTest::newRow("grayed boxes count as cleared") << valued(kPerformanceBoxes + kOtherBoxes, 2) << Expected{};
        // Only a checked Use Password box asks for a password.
        QTest::newRow("empty password, box grayed: none given")
            << QStringList{"txtPassword=", "chkUserPass=2"} << Expected{.password = QString()};
    }

    void settingsInOrder()
    {
        QFETCH(QStringList, fields);
        QFETCH(Expected, expected);
        enter(fields);

        f->cmdRemoteDesktop_Click();

        QVERIFY2(m_boxes->calls.isEmpty(), qPrintable(m_boxes->texts().join(QLatin1Char('|'))));
        RecordingSessionControl *control = RecordingSessionControl::last();
        frmMsRdpClient *session = Forms::MsRdpClient();
        QVERIFY(control && session->msts == control);
        QCOMPARE(control->calls, expected.calls());
        QCOMPARE(f->PanelText(2), QString());
        QVERIFY(!f->isVisible() && session->isVisible() && control->isVisible());
        QVERIFY(gRdpStarted && !gRdpConnected);
        // The frame's corner at (1, 1), the control exactly the desktop, the inside exactly the control.
        QCOMPARE(session->frameGeometry().topLeft(), QPoint(1, 1));
        QCOMPARE(control->geometry(), QRect(0, 0, expected.width, expected.height));
        QCOMPARE(session->size(), control->size());
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
        QTest::addColumn<QStringList>("fields");
        QTest::addColumn<QString>("message");
        QTest::addColumn<QString>("focus"); // where the focus is afterwards
        const auto row = [](const char *name, const QStringList &fields, const char *message, const char *focus) {
            QTest::newRow(name) << fields << message << focus;
        };
        const char *button = "cmdRemoteDesktop", *res = "cboResolution", *chooseRes = "Please choose a Resolution";
        row("everything empty: server first", {"txtServer=", "txtUserName=", "txtPassword=", "cboResolution="},
            "Please enter a Server address", "txtServer");
        row("user empty", {"txtUserName=", "txtPassword=", "chkUserPass=0", "chkAutoConnect=1", "cboResolution="},
            "Please enter a UserName", "txtUserName");
        row("password missing", {"txtPassword=", "cboResolution="}, "Please enter a Password", button);
        row("password without the box, server in charge", {"chkUserPass=0", "chkAutoConnect=1"},
            "Please check the Use Password Check Box", button);
        row("resolution empty", {"cboResolution="}, chooseRes, res);
        row("resolution too large", {"cboResolution=99999999999 x 768"}, chooseRes, res);
        row("resolution without blanks", {"cboResolution=1024x768"}, chooseRes, res);
        row("resolution upper-case X", {"cboResolution=1024 X 768"}, chooseRes, res);
        row("full screen in another case", {"cboResolution=full-screen"}, chooseRes, res);
        row("resolution checked with the server in charge too", {"txtPassword=", "chkAutoConnect=1", "cboResolution=wide"},
            chooseRes, res);
    }

    void validation()
    {
        QFETCH(QStringList, fields);
        QFETCH(QString, message);
        enter(fields);
        f->cmdRemoteDesktop->setFocus();
        const int before = controls();

        f->cmdRemoteDesktop_Click();

        QCOMPARE(m_boxes->texts(), QStringList{message});
        QCOMPARE(m_boxes->calls.first().style, int(MsgBox::OkOnly));
        QCOMPARE(m_boxes->calls.first().caption, MsgBox::AppTitle);
        QTEST(f->focusWidget() ? f->focusWidget()->objectName() : QString(), "focus");
        // Nothing opened, nothing sent (a send on the closed link would show its error in panel 2).
        QCOMPARE(controls(), before);
        QVERIFY(f->isVisible() && !gRdpStarted);
        QCOMPARE(f->PanelText(2), QString());
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
        f->Winsock->Connect(QStringLiteral("127.0.0.1"), server.port());
        QTRY_VERIFY_WITH_TIMEOUT(server.peer() && f->Winsock->State() == SocketControl::sckConnected, kWait);
        TestSupport::ReceiveSeries(*f, {{"anna", "", 3}, {"bert", "", 3}, {"carl", "", 3}});
        {
            const QSignalBlocker quiet(f->cboUsername);
            f->cboUsername->setCurrentIndex(selected);
        }
        enter({"chkAutoConnect=1", "txtPassword=pw", "chkUserPass=0"}); // refused, and nothing sent
        f->cmdRemoteDesktop_Click();
        QCOMPARE(m_boxes->texts(), QStringList{QStringLiteral("Please check the Use Password Check Box")});
        enter({"chkUserPass=1", "txtPassword="}); // accepted with the server in charge
        const int before = controls();

        f->cmdRemoteDesktop_Click();

        // The valid request is the first thing the server hears.
        const QByteArray request = QStringLiteral("@#cmd:10##Argument:%1###@").arg(argument).toLatin1();
        QTRY_COMPARE_WITH_TIMEOUT(server.received, request, kWait);
        QCOMPARE(m_boxes->calls.size(), 1);
        // Only asked: the session starts when the server answers.
        QCOMPARE(controls(), before);
        QVERIFY(f->isVisible() && !gRdpStarted);
    }

    void linkDownShowsTheErrorAndReopens()
    {
        TestSupport::LoopbackServer server;
        enter({"txtServer=127.0.0.1", "txtPort=" + QString::number(server.port()), "chkAutoConnect=1"});
        QCOMPARE(f->Winsock->State(), qint32(SocketControl::sckClosed));

        f->cmdRemoteDesktop_Click();

        QVERIFY(m_boxes->calls.isEmpty());
        QCOMPARE(f->PanelText(2),
                 QStringLiteral("error:40006 Wrong protocol or connection state for the requested transaction or request"));
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
        QCOMPARE(f->PanelText(2), QStringLiteral("error:380 Invalid property value"));
        QVERIFY(m_boxes->calls.isEmpty());
        // Not left in front of an empty session window: it goes back as an ended session does.
        const QStringList names = RecordingSessionControl::last()->callNames();
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
