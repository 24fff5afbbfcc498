#include "platform/ErrorNumbers.h"
#include "serverlink/modSocketCmd.h"

#include <QtTest>

using namespace modSocketCmd;

Q_DECLARE_METATYPE(SocketCmd)

class tst_modSocketCmd : public QObject
{
    Q_OBJECT

private slots:
    void commandFrameBytes();
    void buildCommandFrame_data();
    void buildCommandFrame();
    void clientNameFrame();
    void clientNameFrameTakesNameUnchanged();
    void fieldHelpers();

    void markers_data();
    void markers();
    void parseCommandFrame_data();
    void parseCommandFrame();
    void roundTrip_data();
    void roundTrip();
    void conversionErrors_data();
    void conversionErrors();

    void getFieldValue_data();
    void getFieldValue();

    void parseUserFrame_data();
    void parseUserFrame();
    void parseUserFrameStopsAtMissingField();
    void parseUserFrameLeavesDataOnBadMarkers();
    void parseUserFrameConversionErrors_data();
    void parseUserFrameConversionErrors();

    void parseConnectFrame_data();
    void parseConnectFrame();
    void parseConnectFrameLeavesDataOnBadMarkers();
    void parseConnectFrameConversionError();
};

void tst_modSocketCmd::commandFrameBytes()
{
    QString frame;
    BuildCommandFrame({3, 1}, frame);
    QCOMPARE(frame, QStringLiteral("@#cmd:3##Argument:1###@"));
    const QByteArray wire = frame.toLatin1();
    QCOMPARE(wire.size(), 23);
    QCOMPARE(wire, QByteArray::fromHex("40 23 63 6D 64 3A 33 23 23 41 72 67 75 6D 65 6E 74 3A 31 23 23 23 40"));
}

void tst_modSocketCmd::buildCommandFrame_data()
{
    QTest::addColumn<SocketCmd>("command");
    QTest::addColumn<QString>("expected"); // empty: the frame keeps what it held

    for (int cmd : {2, 3, 4, 7, 9, 10, 11, 12, 13})
        QTest::addRow("built %d", cmd) << SocketCmd{cmd, 7}
                                       << QStringLiteral("@#cmd:%1##Argument:7###@").arg(cmd);
    for (int cmd : {5, 6, 8, 0, 1, 14, -3, 100})
        QTest::addRow("not built %d", cmd) << SocketCmd{cmd, 7} << QString();
    QTest::newRow("negative argument") << SocketCmd{10, -2147483647 - 1}
                                       << QStringLiteral("@#cmd:10##Argument:-2147483648###@");
    QTest::newRow("zero argument") << SocketCmd{12, 0} << QStringLiteral("@#cmd:12##Argument:0###@");
}

void tst_modSocketCmd::buildCommandFrame()
{
    QFETCH(SocketCmd, command);
    QFETCH(QString, expected);

    const QString before = QStringLiteral("previous text");
    QString frame = before;
    BuildCommandFrame(command, frame);
    QCOMPARE(frame, expected.isEmpty() ? before : expected);
}

void tst_modSocketCmd::clientNameFrame()
{
    QString frame = QStringLiteral("old");
    BuildClientNameFrame({5, -2146463630}, frame, QStringLiteral("PANEL01"));
    QCOMPARE(frame, QStringLiteral("@#cmd:5##Argument:-2146463630##ClientName:PANEL01###@"));
    QCOMPARE(frame.toLatin1().size(), 53);

    // No filter on the command, and an empty name is a field all the same.
    BuildClientNameFrame({0, 0}, frame, QString());
    QCOMPARE(frame, QStringLiteral("@#cmd:0##Argument:0##ClientName:###@"));
}

void tst_modSocketCmd::clientNameFrameTakesNameUnchanged()
{
    // A name holding a marker is not escaped; the receiver sees a frame that is not whole.
    QString frame;
    BuildClientNameFrame({5, 1}, frame, QStringLiteral("A#@B"));
    QCOMPARE(frame, QStringLiteral("@#cmd:5##Argument:1##ClientName:A#@B###@"));
    QVERIFY(!HasFrameEnd(frame));

    // Latin-1 characters stay one byte each on the wire.
    BuildClientNameFrame({5, 1}, frame, QStringLiteral("K\u00dcCHE"));
    QCOMPARE(frame.toLatin1(), QByteArray("@#cmd:5##Argument:1##ClientName:K\xdc" "CHE###@"));
}

void tst_modSocketCmd::fieldHelpers()
{
    QString frame = QStringLiteral("junk");
    BeginFrame(frame, {4, -1});
    QCOMPARE(frame, QStringLiteral("@#cmd:4##Argument:-1##"));
    AppendField(frame, QStringLiteral("Username:"), QString());
    QCOMPARE(frame, QStringLiteral("@#cmd:4##Argument:-1##Username:##"));
    EndFrame(frame);
    QCOMPARE(frame, QStringLiteral("@#cmd:4##Argument:-1##Username:###@"));
}

void tst_modSocketCmd::markers_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("start");
    QTest::addColumn<bool>("end");

    QTest::newRow("whole") << "@#cmd:2##Argument:0###@" << true << true;
    QTest::newRow("empty") << "" << false << false;
    QTest::newRow("blank before") << " @#cmd:2##Argument:0###@" << false << true;
    QTest::newRow("last two missing") << "@#cmd:2##Argument:0###" << true << false;
    QTest::newRow("blank after") << "@#cmd:2##Argument:0###@ " << true << false;
    QTest::newRow("two frames") << "@#cmd:2##Argument:0###@@#cmd:2##Argument:0###@" << true << false;
    QTest::newRow("end marker inside") << "@#a#@b###@" << true << false;
    QTest::newRow("only markers") << "@##@" << true << true;
    QTest::newRow("start marker later") << "x@#cmd:2###@" << false << true;
}

void tst_modSocketCmd::markers()
{
    QFETCH(QString, text);
    QFETCH(bool, start);
    QFETCH(bool, end);
    QCOMPARE(HasFrameStart(text), start);
    QCOMPARE(HasFrameEnd(text), end);
}

void tst_modSocketCmd::parseCommandFrame_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("cmd");
    QTest::addColumn<int>("argument");

    QTest::newRow("sign of life") << "@#cmd:2##Argument:0###@" << 2 << 0;
    QTest::newRow("lowest") << "@#cmd:2##Argument:-5###@" << 2 << -5;
    QTest::newRow("highest") << "@#cmd:13##Argument:1###@" << 13 << 1;
    QTest::newRow("5 is parsed") << "@#cmd:5##Argument:1###@" << 5 << 1;
    QTest::newRow("above range") << "@#cmd:14##Argument:0###@" << 0 << 0;
    QTest::newRow("below range") << "@#cmd:1##Argument:0###@" << 0 << 0;
    QTest::newRow("zero") << "@#cmd:0##Argument:9###@" << 0 << 0;
    QTest::newRow("negative") << "@#cmd:-3##Argument:9###@" << 0 << 0;
    QTest::newRow("two frames in one block") << "@#cmd:2##Argument:0###@@#cmd:2##Argument:0###@" << 0 << 0;
    QTest::newRow("last two characters missing") << "@#cmd:2##Argument:0###" << 0 << 0;
    QTest::newRow("blank before start") << " @#cmd:2##Argument:0###@" << 0 << 0;
    QTest::newRow("field order free") << "@#Argument:0##cmd:2###@" << 2 << 0;
    QTest::newRow("extra fields") << "@#cmd:8##Argument:3##ClientName:X##Connnect:True###@" << 8 << 3;
    QTest::newRow("blanks around number") << "@#cmd: 5 ##Argument: -1###@" << 5 << -1;
    QTest::newRow("fraction rounds half to even down") << "@#cmd:2.5##Argument:0.5###@" << 2 << 0;
    QTest::newRow("fraction rounds half to even up") << "@#cmd:3.5##Argument:-1.5###@" << 4 << -2;
    QTest::newRow("fraction rounds to nearest") << "@#cmd:12.6##Argument:0###@" << 13 << 0;
    QTest::newRow("leading zeros read") << "@#cmd:007##Argument:010###@" << 7 << 10;
    QTest::newRow("not a frame: cmd text unchecked") << "cmd:x##Argument:0##" << 0 << 0;
    QTest::newRow("first field wins") << "@#cmd:3##Argument:1##cmd:4##Argument:2###@" << 3 << 1;
}

void tst_modSocketCmd::parseCommandFrame()
{
    QFETCH(QString, text);
    QFETCH(int, cmd);
    QFETCH(int, argument);
    const SocketCmd parsed = ParseCommandFrame(text);
    QCOMPARE(parsed.Cmd, cmd);
    QCOMPARE(parsed.Argument, argument);
}

void tst_modSocketCmd::roundTrip_data()
{
    QTest::addColumn<int>("cmd");
    QTest::addColumn<int>("argument");
    for (int cmd : {2, 3, 4, 7, 9, 10, 11, 12, 13})
        for (int argument : {0, 1, -1, 2147483647, -2147483647 - 1})
            QTest::addRow("%d,%d", cmd, argument) << cmd << argument;
}

void tst_modSocketCmd::roundTrip()
{
    QFETCH(int, cmd);
    QFETCH(int, argument);
    QString frame;
    BuildCommandFrame({cmd, argument}, frame);
    const SocketCmd parsed = ParseCommandFrame(QString::fromLatin1(frame.toLatin1()));
    QCOMPARE(parsed.Cmd, cmd);
    QCOMPARE(parsed.Argument, argument);
}

void tst_modSocketCmd::conversionErrors_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("error");

    const int mismatch = ErrorNumbers::TypeMismatch.number;
    QTest::newRow("cmd not numeric") << "@#cmd:x##Argument:0###@" << mismatch;
    QTest::newRow("argument not numeric") << "@#cmd:2##Argument:1a###@" << mismatch;
    QTest::newRow("cmd empty") << "@#cmd:##Argument:0###@" << mismatch;
    QTest::newRow("argument empty") << "@#cmd:2##Argument:###@" << mismatch;
    QTest::newRow("cmd missing") << "@#Argument:0###@" << mismatch;
    QTest::newRow("argument missing") << "@#cmd:2###@" << mismatch;
    QTest::newRow("no fields at all") << "@##@" << mismatch;
    QTest::newRow("argument without separator") << "@#cmd:2##Argument:0#@" << mismatch;
    QTest::newRow("cmd out of 32-bit range") << "@#cmd:2147483648##Argument:0###@"
                                             << ErrorNumbers::Overflow.number;
}

void tst_modSocketCmd::conversionErrors()
{
    QFETCH(QString, text);
    QFETCH(int, error);
    try {
        ParseCommandFrame(text);
        QFAIL("no error raised");
    } catch (const VbError &e) {
        QCOMPARE(e.number(), error);
    }
    // GetCommand raises the same on the same text.
    QVERIFY_THROWS_EXCEPTION(VbError, GetCommand(text));
}

void tst_modSocketCmd::getFieldValue_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("key");
    QTest::addColumn<bool>("found");
    QTest::addColumn<QString>("value");

    const QString user = QStringLiteral("@#cmd:6##Argument:1##NrOfUsers:2##Username:##Password:p w##Resolution:3###@");
    QTest::newRow("empty value") << user << "Username:" << true << "";
    QTest::newRow("value with blank") << user << "Password:" << true << "p w";
    QTest::newRow("last field") << user << "Resolution:" << true << "3";
    QTest::newRow("missing key") << user << "ClientName:" << false << "";
    QTest::newRow("case-sensitive key") << user << "username:" << false << "";
    QTest::newRow("no separator after key") << "@#cmd:2#@" << "cmd:" << false << "";
    QTest::newRow("first occurrence only") << "@#k:a##k:b###@" << "k:" << true << "a";
    QTest::newRow("key found inside another") << "@#XUsername:a##Username:b###@" << "Username:" << true << "a";
    QTest::newRow("value cut at first separator") << "@#Password:a##b###@" << "Password:" << true << "a";
    QTest::newRow("value may hold a single #") << "@#Password:a#b###@" << "Password:" << true << "a#b";
    QTest::newRow("outside a frame") << "Username:x##" << "Username:" << true << "x";
}

void tst_modSocketCmd::getFieldValue()
{
    QFETCH(QString, text);
    QFETCH(QString, key);
    QFETCH(bool, found);
    QFETCH(QString, value);

    QString out = QStringLiteral("stale");
    QCOMPARE(GetFieldValue(text, key, out), found);
    QCOMPARE(out, value); // cleared when not found
}

void tst_modSocketCmd::parseUserFrame_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("nr");
    QTest::addColumn<QString>("username");
    QTest::addColumn<QString>("password");
    QTest::addColumn<int>("resolution");

    QTest::newRow("plain") << "@#cmd:6##Argument:1##NrOfUsers:3##Username:op1##Password:secret##Resolution:2###@"
                           << 3 << "op1" << "secret" << 2;
    QTest::newRow("empty texts") << "@#cmd:6##Argument:1##NrOfUsers:1##Username:##Password:##Resolution:0###@"
                                 << 1 << "" << "" << 0;
    QTest::newRow("order free") << "@#Resolution:4##Password:p##Username:u##NrOfUsers:2##Argument:0##cmd:6###@"
                                << 2 << "u" << "p" << 4;
    QTest::newRow("numbers converted") << "@#cmd:6##Argument:1##NrOfUsers: 2 ##Username:u##Password:p##Resolution:2.5###@"
                                       << 2 << "u" << "p" << 2;
}

void tst_modSocketCmd::parseUserFrame()
{
    QFETCH(QString, text);
    QFETCH(int, nr);
    QFETCH(QString, username);
    QFETCH(QString, password);
    QFETCH(int, resolution);

    RemoteUserData data;
    QVERIFY(ParseUserFrame(text, data));
    QCOMPARE(data.NrOfUsers, nr);
    QCOMPARE(data.Username, username);
    QCOMPARE(data.Password, password);
    QCOMPARE(data.Resolution, resolution);
}

void tst_modSocketCmd::parseUserFrameStopsAtMissingField()
{
    // Password missing: the fields before it are set, Resolution is not read.
    RemoteUserData data;
    QVERIFY(!ParseUserFrame(QStringLiteral("@#cmd:6##Argument:1##NrOfUsers:2##Username:u##Resolution:x###@"), data));
    QCOMPARE(data.NrOfUsers, 2);
    QCOMPARE(data.Username, QStringLiteral("u"));
    QCOMPARE(data.Password, QString());
    QCOMPARE(data.Resolution, 0);

    // The first field missing: nothing set.
    RemoteUserData fresh;
    QVERIFY(!ParseUserFrame(QStringLiteral("@#cmd:6##Argument:1##Username:u##Password:p##Resolution:1###@"), fresh));
    QCOMPARE(fresh.Username, QString());
}

void tst_modSocketCmd::parseUserFrameLeavesDataOnBadMarkers()
{
    RemoteUserData data{9, QStringLiteral("keep"), QStringLiteral("me"), 4};
    // Two frames in a row and a missing end: not whole frames, data untouched, no error
    // although the numbers in them are not numeric.
    for (const QString &text : {QStringLiteral("@#cmd:x##NrOfUsers:1##Username:a##Password:b##Resolution:1###@@#x###@"),
                                QStringLiteral("@#cmd:6##Argument:1##NrOfUsers:1##Username:a##Password:b##Resolution:1###")}) {
        QVERIFY(!ParseUserFrame(text, data));
        QCOMPARE(data.NrOfUsers, 9);
        QCOMPARE(data.Username, QStringLiteral("keep"));
        QCOMPARE(data.Password, QStringLiteral("me"));
        QCOMPARE(data.Resolution, 4);
    }
}

void tst_modSocketCmd::parseUserFrameConversionErrors_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("username"); // what is set before the error

    QTest::newRow("cmd not numeric") << "@#cmd:a##Argument:1##NrOfUsers:1##Username:u##Password:p##Resolution:1###@" << "";
    QTest::newRow("argument missing") << "@#cmd:6##NrOfUsers:1##Username:u##Password:p##Resolution:1###@" << "";
    QTest::newRow("count empty") << "@#cmd:6##Argument:1##NrOfUsers:##Username:u##Password:p##Resolution:1###@" << "";
    QTest::newRow("resolution not numeric") << "@#cmd:6##Argument:1##NrOfUsers:1##Username:u##Password:p##Resolution:hi###@" << "u";
}

void tst_modSocketCmd::parseUserFrameConversionErrors()
{
    QFETCH(QString, text);
    QFETCH(QString, username);
    RemoteUserData data;
    try {
        ParseUserFrame(text, data);
        QFAIL("no error raised");
    } catch (const VbError &e) {
        QCOMPARE(e.number(), ErrorNumbers::TypeMismatch.number);
    }
    QCOMPARE(data.Username, username);
}

void tst_modSocketCmd::parseConnectFrame_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("result");
    QTest::addColumn<bool>("connect");
    QTest::addColumn<QString>("clientName");

    QTest::newRow("connected") << "@#cmd:8##Argument:1##ClientName:PANEL02##Connnect:True###@" << true << true << "PANEL02";
    QTest::newRow("not connected") << "@#cmd:8##Argument:0##ClientName:##Connnect:False###@" << true << false << "";
    QTest::newRow("lower case true") << "@#cmd:8##Argument:1##ClientName:A##Connnect:true###@" << true << false << "A";
    QTest::newRow("upper case true") << "@#cmd:8##Argument:1##ClientName:A##Connnect:TRUE###@" << true << false << "A";
    QTest::newRow("true with blank") << "@#cmd:8##Argument:1##ClientName:A##Connnect:True ###@" << true << false << "A";
    QTest::newRow("empty connect value") << "@#cmd:8##Argument:1##ClientName:A##Connnect:###@" << true << false << "A";
    QTest::newRow("two n is a missing field") << "@#cmd:8##Argument:1##ClientName:A##Connect:True###@" << false << false << "A";
    QTest::newRow("client name missing") << "@#cmd:8##Argument:1##Connnect:True###@" << false << false << "";
    QTest::newRow("order free") << "@#Connnect:True##ClientName:B##Argument:1##cmd:8###@" << true << true << "B";
}

void tst_modSocketCmd::parseConnectFrame()
{
    QFETCH(QString, text);
    QFETCH(bool, result);
    QFETCH(bool, connect);
    QFETCH(QString, clientName);

    RemoteConnectData data;
    QCOMPARE(ParseConnectFrame(text, data), result);
    QCOMPARE(data.Connect, connect);
    QCOMPARE(data.ClientName, clientName);
}

void tst_modSocketCmd::parseConnectFrameLeavesDataOnBadMarkers()
{
    RemoteConnectData data{true, QStringLiteral("keep")};
    QVERIFY(!ParseConnectFrame(QStringLiteral(" @#cmd:8##Argument:1##ClientName:A##Connnect:False###@"), data));
    QCOMPARE(data.Connect, true);
    QCOMPARE(data.ClientName, QStringLiteral("keep"));
}

void tst_modSocketCmd::parseConnectFrameConversionError()
{
    RemoteConnectData data;
    QVERIFY_THROWS_EXCEPTION(VbError, ParseConnectFrame(QStringLiteral("@#cmd:8##Argument:?##ClientName:A##Connnect:True###@"), data));
    QCOMPARE(data.ClientName, QString()); // raised before any field was read
}

QTEST_APPLESS_MAIN(tst_modSocketCmd)
#include "tst_modSocketCmd.moc"
