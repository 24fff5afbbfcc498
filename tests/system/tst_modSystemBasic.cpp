#include "system/modSystemBasic.h"

#include <QApplication>
#include <QCloseEvent>
#include <QScreen>
#include <QTest>
#include <QWidget>

using namespace modSystemBasic;

namespace {

struct ExitCall
{
    quint32 flags;
    quint32 reserved;
};

VersionReader fixedRecord(qint32 platformId, qint32 major, qint32 minor, qint32 error = 0)
{
    return [=] { return VersionRecord{platformId, major, minor, error}; };
}

} // namespace

class tst_modSystemBasic : public QObject
{
    Q_OBJECT

private:
    QList<ExitCall> m_exits;

private slots:
    void init()
    {
        m_exits.clear();
        SetMachineControl([this](quint32 flags, quint32 reserved) { m_exits.append({flags, reserved}); });
    }
    void cleanup()
    {
        SetVersionReader({});
        // The recorder stays: the real machine control must never run in a test.
    }

    void versionCodes_data()
    {
        QTest::addColumn<qint32>("platformId");
        QTest::addColumn<qint32>("major");
        QTest::addColumn<qint32>("minor");
        QTest::addColumn<qint32>("code");
        QTest::addColumn<int>("isNt"); // -1 no value, else the value

        QTest::newRow("Windows 95") << 1 << 4 << 0 << 1 << 0;
        QTest::newRow("Windows 98") << 1 << 4 << 10 << 2 << 0;
        QTest::newRow("Windows Me") << 1 << 4 << 90 << 0 << 0;
        QTest::newRow("9x, minor 10 on another major") << 1 << 7 << 10 << 2 << 0;
        QTest::newRow("NT 3.51") << 2 << 3 << 51 << 3 << 1;
        QTest::newRow("NT 4.0") << 2 << 4 << 0 << 4 << 1;
        QTest::newRow("Windows 2000") << 2 << 5 << 0 << 5 << 1;
        QTest::newRow("Windows XP") << 2 << 5 << 1 << 5 << 1;
        QTest::newRow("Server 2003") << 2 << 5 << 2 << 5 << 1;
        QTest::newRow("NT 6.0") << 2 << 6 << 0 << 0 << 1;
        QTest::newRow("NT 10") << 2 << 10 << 0 << 0 << 1;
        QTest::newRow("NT, minor 0 is no 9x") << 2 << 4 << 10 << 4 << 1;
        QTest::newRow("Win32s") << 0 << 3 << 10 << 0 << -1;
        QTest::newRow("CE") << 3 << 5 << 0 << 0 << -1;
        QTest::newRow("negative id") << -1 << 5 << 0 << 0 << -1;
    }
    void versionCodes()
    {
        QFETCH(qint32, platformId);
        QFETCH(qint32, major);
        QFETCH(qint32, minor);
        QFETCH(qint32, code);
        QFETCH(int, isNt);
        SetVersionReader(fixedRecord(platformId, major, minor));
        QCOMPARE(GetWindowsVersion(), code);
        const std::optional<qint32> nt = IsWinNT();
        if (isNt < 0)
            QVERIFY(!nt.has_value());
        else
            QCOMPARE(nt, std::optional<qint32>(isNt));
    }

    void failedQueryGivesItsErrorNumber()
    {
        SetVersionReader(fixedRecord(2, 5, 1, 87));
        QCOMPARE(IsWinNT(), std::optional<qint32>(87));
        QCOMPARE(GetWindowsVersion(), 0);
    }

    void linuxNamesNoWindowsPlatform()
    {
        SetVersionReader({});
        QVERIFY(!IsWinNT().has_value());
        QCOMPARE(GetWindowsVersion(), 0);
    }

    void exitFlags_data()
    {
        QTest::addColumn<qint32>("platformId");
        QTest::addColumn<qint32>("mode");
        QTest::addColumn<int>("flags"); // -1: nothing is exited

        const qint32 nt = 2, w9x = 1, linux = 0;
        QTest::newRow("NT log off") << nt << 0 << 0;
        QTest::newRow("NT restart") << nt << 1 << 7;
        QTest::newRow("NT shut down") << nt << 2 << 1;
        QTest::newRow("NT forced shut down") << nt << 3 << 5;
        QTest::newRow("NT mode 4") << nt << 4 << -1;
        QTest::newRow("NT mode -1") << nt << -1 << -1;
        QTest::newRow("9x log off") << w9x << 0 << 0;
        QTest::newRow("9x restart") << w9x << 1 << 3;
        QTest::newRow("9x shut down") << w9x << 2 << 1;
        QTest::newRow("9x forced shut down") << w9x << 3 << 1;
        QTest::newRow("9x mode 4") << w9x << 4 << -1;
        QTest::newRow("Linux log off") << linux << 0 << 0;
        QTest::newRow("Linux restart") << linux << 1 << 3;
        QTest::newRow("Linux shut down") << linux << 2 << 1;
        QTest::newRow("Linux forced shut down") << linux << 3 << 1;
        QTest::newRow("Linux mode 4") << linux << 4 << -1;
        QTest::newRow("Linux huge mode") << linux << 2147483647 << -1;
    }
    void exitFlags()
    {
        QFETCH(qint32, platformId);
        QFETCH(qint32, mode);
        QFETCH(int, flags);
        SetVersionReader(fixedRecord(platformId, 5, 1));
        ShutdownSystem(mode);
        if (flags < 0) {
            QVERIFY(m_exits.isEmpty());
            return;
        }
        QCOMPARE(m_exits.size(), 1);
        QCOMPARE(m_exits.first().flags, quint32(flags));
        QCOMPARE(m_exits.first().reserved, 0xFFFFFFFFu);
    }

    void failedVersionQueryCountsAsNt()
    {
        // The error number is non-zero, which the caller takes for the NT family.
        SetVersionReader(fixedRecord(0, 0, 0, 5));
        ShutdownSystem(1);
        QCOMPARE(m_exits.size(), 1);
        QCOMPARE(m_exits.first().flags, 7u);
    }

    void realReaderOnLinuxRestartsWithoutForce()
    {
        SetVersionReader({});
        ShutdownSystem(1);
        ShutdownSystem(3);
        QCOMPARE(m_exits.size(), 2);
        QCOMPARE(m_exits.at(0).flags, EWX_SHUTDOWN | EWX_REBOOT);
        QCOMPARE(m_exits.at(1).flags, EWX_SHUTDOWN);
    }

    void filterDigitKey_data()
    {
        QTest::addColumn<int>("key");
        QTest::addColumn<int>("result");
        for (int c = '0'; c <= '9'; ++c)
            QTest::addRow("digit %c", char(c)) << c << c;
        QTest::newRow("backspace") << 8 << 8;
        QTest::newRow("nul") << 0 << 0;
        QTest::newRow("tab") << 9 << 0;
        QTest::newRow("enter") << 13 << 0;
        QTest::newRow("escape") << 27 << 0;
        QTest::newRow("blank") << int(' ') << 0;
        QTest::newRow("minus") << int('-') << 0;
        QTest::newRow("plus") << int('+') << 0;
        QTest::newRow("point") << int('.') << 0;
        QTest::newRow("comma") << int(',') << 0;
        QTest::newRow("slash, below 0") << int('/') << 0;
        QTest::newRow("colon, above 9") << int(':') << 0;
        QTest::newRow("e") << int('e') << 0;
        QTest::newRow("letter") << int('a') << 0;
        QTest::newRow("delete") << 127 << 0;
        QTest::newRow("superscript two") << 178 << 0;
        QTest::newRow("negative") << -1 << 0;
        QTest::newRow("above 8 bits") << 0x0660 << 0;
    }
    void filterDigitKey()
    {
        QFETCH(int, key);
        QFETCH(int, result);
        qint16 k = qint16(key);
        FilterDigitKey(k);
        QCOMPARE(int(k), result);
    }

    void computerNameFitsTheBuffer()
    {
        const QString name = GetLocalComputerName();
        QVERIFY(name.size() <= 15);
        QCOMPARE(name, QSysInfo::machineHostName().left(15));
    }

    void twipsFollowTheScreen()
    {
        QScreen *screen = QGuiApplication::primaryScreen();
        QVERIFY(screen);
        const int tx = qRound(1440.0 / screen->logicalDotsPerInchX());
        const int ty = qRound(1440.0 / screen->logicalDotsPerInchY());
        QCOMPARE(TwipsPerPixelX(), tx);
        QCOMPARE(TwipsPerPixelY(), ty);
        QCOMPARE(GetScreenWidth(), screen->geometry().width() * tx);
        QCOMPARE(GetScreenHeight(), screen->geometry().height() * ty);
        if (qFuzzyCompare(screen->logicalDotsPerInchX(), 96.0))
            QCOMPARE(TwipsPerPixelX(), 15);
    }

    void titleBarHeightIsPositive()
    {
        QVERIFY(GetTitleBarHeight() > 1);
    }

    void removeCloseMenuRefusesClose()
    {
        SetVersionReader({});
        QWidget w;
        w.setGeometry(40, 50, 300, 200);
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        QVERIFY(!IsCloseRemoved(&w));

        RemoveCloseMenu(&w);
        QVERIFY(IsCloseRemoved(&w));
        QVERIFY(!(w.windowFlags() & Qt::WindowCloseButtonHint));
        QVERIFY(w.windowFlags() & Qt::WindowTitleHint);
        QVERIFY(w.isVisible());
        QCOMPARE(w.geometry(), QRect(40, 50, 300, 200));

        QVERIFY(!w.close());
        QVERIFY(w.isVisible());
        QCloseEvent request;
        QApplication::sendEvent(&w, &request);
        QVERIFY(!request.isAccepted());
        QVERIFY(w.isVisible());

        RemoveCloseMenu(&w); // twice: still one guard
        QCOMPARE(w.findChildren<QObject *>(QString(), Qt::FindDirectChildrenOnly).size(), 1);
    }

    void removeCloseMenuLeavesWindows95Alone()
    {
        SetVersionReader(fixedRecord(1, 4, 0));
        QWidget w;
        RemoveCloseMenu(&w);
        QVERIFY(!IsCloseRemoved(&w));
        QVERIFY(w.close());
    }

    void unloadingStillDeletes()
    {
        QPointer<QWidget> w = new QWidget;
        RemoveCloseMenu(w);
        delete w.data();
        QVERIFY(w.isNull());
    }

    void setFormOnTopKeepsPlace()
    {
        QWidget w;
        w.setGeometry(70, 80, 220, 120);
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        SetFormOnTop(&w);
        QVERIFY(w.windowFlags() & Qt::WindowStaysOnTopHint);
        QVERIFY(w.isVisible());
        QCOMPARE(w.geometry(), QRect(70, 80, 220, 120));

        QWidget hidden;
        SetFormOnTop(&hidden);
        QVERIFY(hidden.windowFlags() & Qt::WindowStaysOnTopHint);
        QVERIFY(!hidden.isVisible());
    }
};

QTEST_MAIN(tst_modSystemBasic)
#include "tst_modSystemBasic.moc"
