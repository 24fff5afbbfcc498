// The check of an entered connection and what a session control is given for it.
#include "client/RemoteDesktopConnection.h"

#include "SessionRecorder.h"
#include "TestSupport.h"

using Call = SessionRecorder<SessionSettingsDouble>::Call;

namespace {

const QStringList kPerformance{"chkDISABLE_CURSOR_SHADOW", "chkDISABLE_CURSORSETTINGS", "chkDISABLE_FULLWINDOWDRAG",
                               "chkDISABLE_MENUANIMATIONS", "chkDISABLE_THEMING", "chkDISABLE_WALLPAPER",
                               "chkENABLE_ENHANCED_GRAPHICS"};
const QStringList kOthers{"chkBitmap", "chkCompress", "chkRedirectDrives", "chkRedirectPorts", "chkRedirectPrinters",
                          "chkRedirectSmartCards", "chkDisplayConnectionBar", "chkEnableAutoReconnect"};

// An entry that passes every check, changed by "name=value" fields; boxes take numbers.
ConnectionEntry entry(const QStringList &fields)
{
    ConnectionEntry e;
    e.resolution = QStringLiteral("1024 x 768");
    for (const QString &field : QStringList{"txtServer=ts.example", "txtUserName=operator", "txtPassword=secret",
                                            "chkUserPass=1", "AutoConnect=0"}
                                    + fields) {
        const QString name = field.section(u'=', 0, 0), value = field.section(u'=', 1);
        const auto key = std::find_if(ClientConfig::Keys().begin(), ClientConfig::Keys().end(), [&](const auto &k) { return k.name == name; });
        if (name == u"resolution")
            e.resolution = value;
        else if (key == ClientConfig::Keys().end())
            qFatal("no key %s", qPrintable(name));
        else
            e.fields.setValue(key->key, name.startsWith(u"txt") ? QVariant(value) : QVariant(value.toInt()));
    }
    return e;
}

QStringList valued(QStringList boxes, int value)
{
    for (QString &box : boxes)
        box += u'=' + QString::number(value);
    return boxes;
}

// What a control receives for one connection, in order.
struct Expected
{
    qint32 fullScreen = 0, bitmap = 0, compress = 0;
    QList<qint32> performance{0}; // every value PerformanceFlags is given
    bool redirect = false; // every redirection and bar box
    QString password = QStringLiteral("secret"); // null: none given
    qint32 width = 1024, height = 768;

    QList<Call> calls() const
    {
        QList<Call> c{{"FullScreen", fullScreen}, {"BitmapPeristence", bitmap}, {"Compress", compress}};
        for (qint32 p : performance)
            c << Call{"PerformanceFlags", p};
        for (const char *name : {"RedirectDrives", "RedirectPorts", "RedirectPrinters", "RedirectSmartCards",
                                 "DisplayConnectionBar", "EnableAutoReconnect"})
            c << Call{name, redirect};
        if (!password.isNull())
            c << Call{"ClearTextPassword", password};
        return c << Call{"Server", QStringLiteral("ts.example")} << Call{"UserName", QStringLiteral("operator")}
                 << Call{"DesktopHeight", height} << Call{"DesktopWidth", width} << Call{"Connect", QVariant()};
    }
};

} // namespace

Q_DECLARE_METATYPE(Expected)

class tst_Connection : public QObject
{
    Q_OBJECT

private slots:
    void check_data()
    {
        QTest::addColumn<QStringList>("fields");
        QTest::addColumn<QString>("message"); // empty: passes
        QTest::addColumn<QString>("focus");
        const char *res = "cboResolution", *chooseRes = "Please choose a Resolution";
        const auto row = [](const char *name, const QStringList &fields, const char *message, const char *focus = "") {
            QTest::newRow(name) << fields << message << focus;
        };
        row("everything given", {}, "");
        row("everything empty: server first", {"txtServer=", "txtUserName=", "txtPassword=", "resolution="},
            "Please enter a Server address", "txtServer");
        row("user empty", {"txtUserName=", "txtPassword=", "chkUserPass=0", "AutoConnect=1", "resolution="},
            "Please enter a UserName", "txtUserName");
        row("password missing", {"txtPassword=", "resolution="}, "Please enter a Password");
        row("password missing, server in charge", {"txtPassword=", "AutoConnect=1"}, "");
        row("password missing, box grayed", {"txtPassword=", "chkUserPass=2"}, "");
        row("password without the box, server in charge", {"chkUserPass=0", "AutoConnect=1"},
            "Please check the Use Password Check Box");
        row("resolution empty", {"resolution="}, chooseRes, res);
        row("resolution too large", {"resolution=99999999999 x 768"}, chooseRes, res);
        row("resolution without blanks", {"resolution=1024x768"}, chooseRes, res);
        row("parts after the second ignored", {"resolution=1024 x 768 x 16"}, "");
    }
    void check()
    {
        QFETCH(QStringList, fields);
        QFETCH(QString, message);
        RemoteDesktopConnection connection;
        const auto refusal = connection.Check(entry(fields));
        QCOMPARE(refusal ? refusal->message : QString(), message);
        QTEST(refusal && refusal->focus ? ClientConfig::KeyOf(*refusal->focus).control : QString(), "focus");
    }

    void settingsInOrder_data()
    {
        QTest::addColumn<QStringList>("fields");
        QTest::addColumn<Expected>("expected");
        QTest::newRow("1024 x 768") << QStringList() << Expected{};
        QTest::newRow("Full-Screen") << QStringList{"resolution=Full-Screen"}
                                     << Expected{.fullScreen = 1, .width = 1280, .height = 1024};
        QTest::newRow("all performance boxes: 0x7F, in the table's order")
            << valued(kPerformance, 1) << Expected{.performance = {0, 0x20, 0x60, 0x62, 0x66, 0x6E, 0x6F, 0x7F}};
        QTest::newRow("every other box")
            << valued(kOthers, 1) << Expected{.bitmap = 1, .compress = 1, .redirect = true};
        QTest::newRow("grayed boxes count as cleared") << valued(kPerformance + kOthers, 2) << Expected{};
        QTest::newRow("empty password: none given") << QStringList{"txtPassword="} << Expected{.password = QString()};
    }
    void settingsInOrder()
    {
        QFETCH(QStringList, fields);
        QFETCH(Expected, expected);
        const ConnectionEntry e = entry(fields);
        SessionRecorder<SessionSettingsDouble> control;
        RemoteDesktopConnection connection;
        connection.ResolutionSize(e, QSize(1280, 1024), control);
        connection.mRdpNonScriptable = &control;
        QCOMPARE(connection.DesktopSize(), QSize(expected.width, expected.height));
        connection.ApplySettings(e, control);
        connection.Connect(e, control);
        QCOMPARE(control.calls, expected.calls());
    }
};

QTEST_GUILESS_MAIN(tst_Connection)
#include "tst_Connection.moc"
