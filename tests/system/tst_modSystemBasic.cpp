#include "system/modSystemBasic.h"

#include <QApplication>
#include <QCloseEvent>
#include <QScreen>
#include <QTest>
#include <QWidget>

using namespace modSystemBasic;

namespace {

VersionReader fixedRecord(qint32 platformId, qint32 major, qint32 minor, qint32 error = 0)
{
    return [=] { return VersionRecord{platformId, major, minor, error}; };
}

} // namespace

class tst_modSystemBasic : public QObject
{
    Q_OBJECT

    QList<QPair<quint32, quint32>> m_exits; // flags, reserved

private slots:
    // The recorder stays for the whole run: the real machine control must never run here.
    void init()
    {
        m_exits.clear();
        SetMachineControl([this](quint32 flags, quint32 reserved) { m_exits.append({flags, reserved}); });
    }
    void cleanup() { SetVersionReader({}); }

    void versionCodes_data()
    {
        QTest::addColumn<qint32>("platformId");
        QTest::addColumn<qint32>("major");
        QTest::addColumn<qint32>("minor");
        QTest::addColumn<qint32>("error");
        QTest::addColumn<qint32>("code");
        QTest::addColumn<int>("isNt"); // -1: no value
        QTest::newRow("Windows 95") << 1 << 4 << 0 << 0 << 1 << 0;
        QTest::newRow("Windows 98") << 1 << 4 << 10 << 0 << 2 << 0;
        QTest::newRow("Windows Me") << 1 << 4 << 90 << 0 << 0 << 0;
        QTest::newRow("9x, minor 10 on another major") << 1 << 7 << 10 << 0 << 2 << 0;
        QTest::newRow("NT 3.51") << 2 << 3 << 51 << 0 << 3 << 1;
        QTest::newRow("NT 4.0") << 2 << 4 << 0 << 0 << 4 << 1;
        QTest::newRow("Windows XP") << 2 << 5 << 1 << 0 << 5 << 1;
        QTest::newRow("NT 6.0") << 2 << 6 << 0 << 0 << 0 << 1;
        QTest::newRow("NT, minor 10 is no 9x") << 2 << 4 << 10 << 0 << 4 << 1;
        QTest::newRow("Win32s") << 0 << 3 << 10 << 0 << 0 << -1;
        QTest::newRow("CE") << 3 << 5 << 0 << 0 << 0 << -1;
        QTest::newRow("failed query gives its error") << 2 << 5 << 1 << 87 << 0 << 87;
    }
    void versionCodes()
    {
        QFETCH(qint32, platformId);
        QFETCH(qint32, major);
        QFETCH(qint32, minor);
        QFETCH(qint32, error);
        QFETCH(qint32, code);
        QFETCH(int, isNt);
        SetVersionReader(fixedRecord(platformId, major, minor, error));
        QCOMPARE(GetWindowsVersion(), code);
        QCOMPARE(IsWinNT(), isNt < 0 ? std::optional<qint32>() : std::optional<qint32>(isNt));
    }

    void linuxNamesNoWindowsPlatform()
    {
        QVERIFY(!IsWinNT().has_value());
        QCOMPARE(GetWindowsVersion(), 0);
    }

    void exitFlags_data()
    {
        QTest::addColumn<qint32>("platformId");
        QTest::addColumn<qint32>("error");
        QTest::addColumn<qint32>("mode");
        QTest::addColumn<int>("flags"); // -1: nothing is exited
        QTest::newRow("NT log off") << 2 << 0 << 0 << 0;
        QTest::newRow("NT restart") << 2 << 0 << 1 << 7;
        QTest::newRow("NT shut down") << 2 << 0 << 2 << 1;
        QTest::newRow("NT forced shut down") << 2 << 0 << 3 << 5;
        QTest::newRow("NT mode 4") << 2 << 0 << 4 << -1;
        QTest::newRow("NT mode -1") << 2 << 0 << -1 << -1;
        QTest::newRow("9x log off") << 1 << 0 << 0 << 0;
        QTest::newRow("9x restart") << 1 << 0 << 1 << 3;
        QTest::newRow("9x forced shut down") << 1 << 0 << 3 << 1;
        QTest::newRow("no Windows, restart") << 0 << 0 << 1 << 3;
        QTest::newRow("no Windows, huge mode") << 0 << 0 << 2147483647 << -1;
        QTest::newRow("failed query counts as NT") << 0 << 5 << 1 << 7; // non-zero error reads as NT
    }
    void exitFlags()
    {
        QFETCH(qint32, platformId);
        QFETCH(qint32, error);
        QFETCH(qint32, mode);
        QFETCH(int, flags);
        SetVersionReader(fixedRecord(platformId, 5, 1, error));
        ShutdownSystem(mode);
        if (flags < 0)
            QVERIFY(m_exits.isEmpty());
        else
            QCOMPARE(m_exits, (QList<QPair<quint32, quint32>>{{quint32(flags), 0xFFFFFFFFu}}));
    }

    void realReaderOnLinuxRestartsWithoutForce()
    {
        ShutdownSystem(1);
        ShutdownSystem(3);
        QCOMPARE(m_exits, (QList<QPair<quint32, quint32>>{{EWX_SHUTDOWN | EWX_REBOOT, 0xFFFFFFFFu}, {EWX_SHUTDOWN, 0xFFFFFFFFu}}));
    }

    void filterDigitKey_data()
    {
        QTest::addColumn<int>("key");
        QTest::addColumn<int>("result");
        QTest::newRow("0") << int('0') << int('0');
        QTest::newRow("9") << int('9') << int('9');
        QTest::newRow("backspace") << 8 << 8;
        for (int key : {0, 9, 13, int('-'), int('.'), int('/'), int(':'), int('a'), 127, 178, -1, 0x0660})
            QTest::addRow("refused %d", key) << key << 0;
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
        QCOMPARE(GetLocalComputerName(), QSysInfo::machineHostName().left(15));
    }

    void screenMeasures()
    {
        QScreen *screen = QGuiApplication::primaryScreen();
        QVERIFY(screen);
        const int tx = qRound(1440.0 / screen->logicalDotsPerInchX());
        const int ty = qRound(1440.0 / screen->logicalDotsPerInchY());
        QCOMPARE(TwipsPerPixelX(), tx);
        QCOMPARE(TwipsPerPixelY(), ty);
        QCOMPARE(GetScreenWidth(), screen->geometry().width() * tx);
        QCOMPARE(GetScreenHeight(), screen->geometry().height() * ty);
        QVERIFY(GetTitleBarHeight() > 1);
    }

    void removeCloseMenuRefusesClose()
    {
        QWidget w;
        w.setGeometry(40, 50, 300, 200);
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        RemoveCloseMenu(&w);
        QVERIFY(IsCloseRemoved(&w));
        QVERIFY(!(w.windowFlags() & Qt::WindowCloseButtonHint));
        QVERIFY(w.windowFlags() & Qt::WindowTitleHint);
        QCOMPARE(w.geometry(), QRect(40, 50, 300, 200));
        QVERIFY(!w.close());
        QCloseEvent request;
        QApplication::sendEvent(&w, &request);
        QVERIFY(!request.isAccepted());
        QVERIFY(w.isVisible());
        RemoveCloseMenu(&w); // twice: still one guard
        QCOMPARE(w.findChildren<QObject *>(QString(), Qt::FindDirectChildrenOnly).size(), 1);
        QPointer<QWidget> guarded = new QWidget; // unloading still deletes
        RemoveCloseMenu(guarded);
        delete guarded.data();
        QVERIFY(guarded.isNull());
    }

    void removeCloseMenuLeavesWindows95Alone()
    {
        SetVersionReader(fixedRecord(1, 4, 0));
        QWidget w;
        RemoveCloseMenu(&w);
        QVERIFY(!IsCloseRemoved(&w));
        QVERIFY(w.close());
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
