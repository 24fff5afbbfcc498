// The command line: its words, its switches and what they start.
#include "client/Forms.h"
#include "client/frmClient.h"
#include "settings/modGlobClientVar.h"
#include "shell/frmClientTrayIcon.h"
#include "startup/modStartClient.h"

#include "Panel.h"

#include <QApplication>

using namespace modGlobClientVar;

namespace {

QStringList words(std::initializer_list<const char *> list)
{
    QStringList w{QString()};
    for (const char *s : list)
        w << QString::fromUtf8(s);
    return w;
}

} // namespace

class tst_modStartClient : public QObject
{
    Q_OBJECT

private:
    // What Main did, in order: "usage", "start" or "start notmax" (the flag at load time).
    QStringList m_events;

private slots:
    void init()
    {
        m_events.clear();
        gNotMaximized = false;
        gCommandArgs.clear();
        modStartClient::SetTrayLoader([this] {
            m_events << (gNotMaximized ? QStringLiteral("start notmax") : QStringLiteral("start"));
        });
        MsgBox::SetHandler([this](const MsgBox::Call &) { m_events << QStringLiteral("usage"); });
    }
    void cleanup()
    {
        modStartClient::SetTrayLoader({});
        modStartClient::SetArgumentString(QString());
        MsgBox::SetHandler({});
    }

    void split_data()
    {
        QTest::addColumn<QString>("line");
        QTest::addColumn<int>("max"); // -1: the default maximum
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("empty") << "" << 10 << words({});
        QTest::newRow("runs of separators, case kept") << "  /run \t\t  /NotMax\t" << 10 << words({"/run", "/NotMax"});
        QTest::newRow("quotes are ordinary") << "\"C:\\Program Files\\x.exe\" a"
                                             << 10 << words({"\"C:\\Program", "Files\\x.exe\"", "a"});
        QTest::newRow("line breaks are no separators") << "a\nb\rc\vd" << 10 << words({"a\nb\rc\vd"});
        QTest::newRow("cut after the tenth, kept whole") << "a b c d e f g h i jjjj kkkk" << 10
                                                         << words({"a", "b", "c", "d", "e", "f", "g", "h", "i", "jjjj"});
        QTest::newRow("maximum two") << "a b c" << 2 << words({"a", "b"});
        QTest::newRow("default maximum is ten") << "1 2 3 4 5 6 7 8 9 10 11" << -1
                                                << words({"1", "2", "3", "4", "5", "6", "7", "8", "9", "10"});
    }
    void split()
    {
        QFETCH(QString, line);
        QFETCH(int, max);
        QFETCH(QStringList, expected);
        if (max < 0) {
            modStartClient::SetArgumentString(line);
            QCOMPARE(modStartClient::SplitCommandLine(), expected);
        } else {
            QCOMPARE(modStartClient::SplitCommandLine(line, max), expected);
        }
    }

    void argumentsAreJoinedWithOneBlank_data()
    {
        QTest::addColumn<QStringList>("argv");
        QTest::addColumn<QString>("joined");
        QTest::addColumn<QStringList>("split");
        QTest::newRow("two switches") << QStringList{"Veskora", "/NOTMAX", "/RUN"} << "/NOTMAX /RUN"
                                      << words({"/NOTMAX", "/RUN"});
        // The shell's quoting is gone by now.
        QTest::newRow("argument with a blank") << QStringList{"Veskora", "/RUN x"} << "/RUN x" << words({"/RUN", "x"});
        QTest::newRow("empty argument") << QStringList{"Veskora", "", "/RUN"} << " /RUN" << words({"/RUN"});
    }
    void argumentsAreJoinedWithOneBlank()
    {
        QFETCH(QStringList, argv);
        QFETCH(QString, joined);
        QFETCH(QStringList, split);
        QCOMPARE(modStartClient::JoinArguments(argv), joined);
        QCOMPARE(modStartClient::SplitCommandLine(modStartClient::JoinArguments(argv)), split);
    }

    void main_data()
    {
        QTest::addColumn<QString>("line");
        QTest::addColumn<QStringList>("events");
        QTest::addColumn<bool>("notMaximized");
        const QStringList start{"start"}, usage{"usage"}, none;
        QTest::newRow("empty line") << "" << start << false;
        QTest::newRow("/RUN") << "/RUN" << start << false;
        QTest::newRow("/run") << "/run" << start << false;
        QTest::newRow("/NOTMAX alone") << "/NOTMAX" << none << true;
        QTest::newRow("/notmax then /run") << "/notmax\t\t /run" << QStringList{"start notmax"} << true;
        QTest::newRow("/RUN then /NOTMAX") << "/RUN /NOTMAX" << start << true;
        QTest::newRow("/? twice") << "/? /?" << QStringList{"usage", "usage"} << false;
        QTest::newRow("unknown") << "/X" << usage << false;
        QTest::newRow("unknown then /RUN") << "/X /RUN" << QStringList{"usage", "start"} << false;
        QTest::newRow("/RUNX") << "/RUNX" << usage << false;
        QTest::newRow("three valid switches") << "/RUN /NOTMAX /RUN" << usage << false;
        QTest::newRow("three words") << "a b c" << usage << false;
        QTest::newRow("eleven words") << "/RUN /RUN /RUN /RUN /RUN /RUN /RUN /RUN /RUN /RUN /RUN" << usage << false;
    }
    void main()
    {
        QFETCH(QString, line);
        QFETCH(QStringList, events);
        QFETCH(bool, notMaximized);
        modStartClient::SetArgumentString(line);
        modStartClient::Main();
        QCOMPARE(m_events, events);
        QCOMPARE(gNotMaximized, notMaximized);
        QCOMPARE(gCommandArgs, modStartClient::SplitCommandLine(line));
    }

    void usageTextIsExact()
    {
        MsgBox::SetHandler({});
        TestSupport::MsgBoxRecorder boxes;
        modStartClient::SetArgumentString(QStringLiteral("/?"));
        modStartClient::Main();
        QCOMPARE(boxes.calls.size(), 1);
        const MsgBox::Call &box = boxes.calls.first();
        QCOMPARE(box.text, QStringLiteral("tst_modStartClient\r\n\r\n"
                                          "Syntax:    tst_modStartClient  [ /? | /RUN]\r\n\r\n"
                                          "/?           Show this screen\r\n"
                                          "/RUN         Start this Software in Runtimemode"));
        QCOMPARE(box.style, int(MsgBox::OkOnly));
        QCOMPARE(box.caption, QStringLiteral("Torvane_Veskora"));
        QCOMPARE(box.owner, nullptr);
    }

    // Every /RUN sets the paths and start values again before the tray form loads; the tray
    // form and the main window are loaded once.
    void everyRunSetsTheStartValues()
    {
        gStartConnectLifeCnt = gStartLifeCnt = gTryConnectCount = gTryConnectActionCnt = gMaxTryConnectActionCnt = -7;
        gSecurityEnabled = false;
        gUserProcessName = QStringLiteral("/bin/true");
        gRdpStarted = true;
        QStringList atLoad;
        modStartClient::SetTrayLoader([&] {
            atLoad << QStringList{gClientCfgFile, gUserCfgFile, gUserProcessName}.join(u'|')
                          + QStringLiteral("|%1 %2 %3 %4 %5 %6").arg(gStartConnectLifeCnt).arg(gStartLifeCnt)
                                .arg(gTryConnectCount).arg(gTryConnectActionCnt).arg(gMaxTryConnectActionCnt)
                                .arg(gSecurityEnabled);
            gStartLifeCnt = 120;
            gClientCfgFile.clear();
        });
        modStartClient::SetArgumentString(QStringLiteral("/RUN /RUN"));
        modStartClient::Main();
        const QString dir = QCoreApplication::applicationDirPath();
        const QString expected = dir + "/Client.cfg|" + dir + "/User.cfg||3 45 0 3 50 1";
        QCOMPARE(atLoad, (QStringList{expected, expected}));
        QVERIFY(gRdpStarted); // not start-up's to touch
        gRdpStarted = false;
    }

    // With the real tray form: two "/RUN" load one tray form and one main window.
    void windows()
    {
        TestSupport::ProgramDir dir;
        RecordingSessionControl::install();
        modStartClient::SetTrayLoader([&] {
            gClientCfgFile = dir.file(QStringLiteral("Client.cfg"));
            frmClientTrayIcon::Load();
        });
        modStartClient::SetArgumentString(QStringLiteral("/RUN /RUN"));
        modStartClient::Main();
        QVERIFY(frmClientTrayIcon::Instance() && !frmClientTrayIcon::Instance()->isVisible());
        int clients = 0;
        for (QWidget *w : QApplication::topLevelWidgets())
            clients += qobject_cast<frmClient *>(w) && w->isVisible();
        QCOMPARE(clients, 1);
        TestSupport::UnloadForms();
        delete frmClientTrayIcon::Instance();
        QTRY_VERIFY(QApplication::topLevelWidgets().isEmpty());
    }

    void instanceLockNamesTheProgram()
    {
        QVERIFY(modStartClient::InstanceLockPath(QStringLiteral("/opt/a/Veskora"))
                != modStartClient::InstanceLockPath(QStringLiteral("/opt/b/Veskora")));
        // The same program file reached through a link is the same program.
        QTemporaryDir dir;
        QFile program(dir.filePath(QStringLiteral("Veskora")));
        QVERIFY(program.open(QIODevice::WriteOnly));
        program.close();
        QVERIFY(QFile::link(program.fileName(), dir.filePath(QStringLiteral("link"))));
        QCOMPARE(modStartClient::InstanceLockPath(dir.filePath(QStringLiteral("link"))),
                 modStartClient::InstanceLockPath(program.fileName()));
        // Our own lock does not stop a later Main of this process.
        QVERIFY(modStartClient::AcquireInstanceLock());
        QVERIFY(modStartClient::AcquireInstanceLock());
    }
};

QTEST_MAIN(tst_modStartClient)
#include "tst_modStartClient.moc"
