// The command line: its words, its switches and what they start.
#include "client/Forms.h"
#include "client/frmClient.h"
#include "settings/modGlobClientVar.h"
#include "shell/frmClientTrayIcon.h"
#include "startup/modStartClient.h"

#include "Panel.h"

#include <QApplication>

#include <sys/stat.h>

using namespace modGlobClientVar;

class tst_modStartClient : public QObject
{
    Q_OBJECT

    // What Main did, in order: "usage", "start" or "start notmax" (the flag at load time).
    QStringList m_events;

private slots:
    void init()
    {
        m_events.clear();
        gNotMaximized = false;
        modStartClient::SetTrayLoader([this] { m_events << (gNotMaximized ? "start notmax" : "start"); });
        // The usage box: its six lines (the program's name is this test's), no owner, only OK, the application title.
        const QString usage = "tst_modStartClient\r\n\r\nSyntax:    tst_modStartClient  [ /? | /RUN]\r\n\r\n"
                              "/?           Show this screen\r\n/RUN         Start this Software in Runtimemode";
        MsgBox::SetHandler([this, usage](const MsgBox::Call &c) {
            m_events << (c.owner || c.style || c.caption != u"Torvane_Veskora" ? QStringLiteral("box") : c.text == usage ? QStringLiteral("usage") : c.text);
        });
    }
    void cleanup()
    {
        modStartClient::SetTrayLoader({});
        modStartClient::SetArgumentString(QString());
        MsgBox::SetHandler({});
    }

    // The program's arguments, joined with one blank (the shell's quoting is gone by now).
    void main_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QStringList>("events");
        QTest::addColumn<bool>("notMaximized");
        const QStringList start{"start"}, usage{"usage"};
        QTest::newRow("none") << QStringList() << start << false;
        QTest::newRow("/run after an empty argument") << QStringList{"", "/run"} << start << false;
        QTest::newRow("/notmax then /run") << QStringList{"/notmax\t\t", "/run"} << QStringList{"start notmax"} << true;
        QTest::newRow("/RUN then /NOTMAX") << QStringList{"/RUN /NOTMAX"} << start << true;
        QTest::newRow("/? twice") << QStringList{"/?", "/?"} << QStringList{"usage", "usage"} << false;
        QTest::newRow("unknown then /RUN, one argument") << QStringList{"/X /RUN"} << QStringList{"usage", "start"} << false;
        QTest::newRow("/RUNX") << QStringList{"/RUNX"} << usage << false;
        QTest::newRow("three valid switches") << QStringList{"/RUN", "/NOTMAX", "/RUN"} << usage << false;
        QTest::newRow("quotes are ordinary") << QStringList{"\"/run", "/notmax\""} << QStringList{"usage", "usage"} << false;
        QTest::newRow("line breaks are no separators") << QStringList{"/RUN\n/NOTMAX"} << usage << false;
    }
    void main()
    {
        QFETCH(QStringList, args);
        modStartClient::SetArgumentString(modStartClient::JoinArguments(QStringList{"Veskora"} + args));
        modStartClient::Main();
        QTEST(m_events, "events");
        QTEST(bool(gNotMaximized), "notMaximized");
    }

    // Every /RUN sets the start values again; the tray form and its main window load once.
    void everyRunSetsTheStartValues()
    {
        gStartConnectLifeCnt = gStartLifeCnt = gTryConnectCount = gTryConnectActionCnt = gMaxTryConnectActionCnt = -7;
        gSecurityEnabled = false;
        TestSupport::ProgramDir dir;
        RecordingSessionControl::install();
        QStringList atLoad;
        modStartClient::SetTrayLoader([&] {
            atLoad << QStringLiteral("%1|%2|%3 %4 %5 %6 %7 %8").arg(gClientCfgFile, gUserCfgFile).arg(gStartConnectLifeCnt)
                          .arg(gStartLifeCnt).arg(gTryConnectCount).arg(gTryConnectActionCnt).arg(gMaxTryConnectActionCnt)
                          .arg(gSecurityEnabled);
            gStartLifeCnt = 120;
            gClientCfgFile = dir.file(QStringLiteral("Client.cfg"));
            frmClientTrayIcon::Load();
        });
        modStartClient::SetArgumentString(QStringLiteral("/RUN /RUN"));
        modStartClient::Main();
        const QString appDir = QCoreApplication::applicationDirPath(), expected = appDir + "/Client.cfg|" + appDir + "/User.cfg|3 45 0 3 50 1";
        QCOMPARE(atLoad, (QStringList{expected, expected}));
        QVERIFY(frmClientTrayIcon::Instance() && !frmClientTrayIcon::Instance()->isVisible());
        const QWidgetList shown = QApplication::topLevelWidgets();
        QCOMPARE(std::count_if(shown.begin(), shown.end(), [](QWidget *w) { return qobject_cast<frmClient *>(w) && w->isVisible(); }), 1);
        TestSupport::UnloadForms();
        delete frmClientTrayIcon::Instance();
        QTRY_VERIFY(QApplication::topLevelWidgets().isEmpty());
    }

    // The lock lies where no other account can make it first: a runtime directory only the user writes, else the user's
    // own below the cache directory, else nowhere. It names the program file, also when reached through a link.
    void instanceLockIsPrivate_data()
    {
        QTest::addColumn<int>("runtimeMode"); // of XDG_RUNTIME_DIR; -1: unset
        QTest::addColumn<int>("cacheMode");   // of $XDG_CACHE_HOME/veskora; -1: none yet
        QTest::addColumn<QString>("where");
        QTest::newRow("runtime directory") << 0700 << -1 << "runtime";
        QTest::newRow("none: one made in the cache") << -1 << -1 << "cache/veskora";
        QTest::newRow("shared runtime directory") << 01777 << 0700 << "cache/veskora";
        QTest::newRow("cache directory others may write") << 0770 << 0777 << "";
    }
    void instanceLockIsPrivate()
    {
        QFETCH(int, runtimeMode);
        QFETCH(int, cacheMode);
        QTemporaryDir top;
        const QString program = top.filePath(QStringLiteral("Veskora")), link = top.filePath(QStringLiteral("link"));
        QVERIFY(QFile(program).open(QIODevice::WriteOnly) && QFile::link(program, link));
        for (const auto &[dir, mode] : {std::pair{QStringLiteral("runtime"), runtimeMode}, {QStringLiteral("cache/veskora"), cacheMode}})
            QVERIFY(mode < 0 || (QDir().mkpath(top.filePath(dir)) && ::chmod(QFile::encodeName(top.filePath(dir)).constData(), mode_t(mode)) == 0));
        const QByteArray runtime = qgetenv("XDG_RUNTIME_DIR"), cache = qgetenv("XDG_CACHE_HOME");
        runtimeMode < 0 ? qunsetenv("XDG_RUNTIME_DIR") : qputenv("XDG_RUNTIME_DIR", QFile::encodeName(top.filePath("runtime")));
        qputenv("XDG_CACHE_HOME", QFile::encodeName(top.filePath("cache")));
        const QString lock = modStartClient::InstanceLockPath(link), ofProgram = modStartClient::InstanceLockPath(program),
                      ofAnother = modStartClient::InstanceLockPath(QStringLiteral("/opt/b/Veskora"));
        runtime.isNull() ? qunsetenv("XDG_RUNTIME_DIR") : qputenv("XDG_RUNTIME_DIR", runtime);
        cache.isNull() ? qunsetenv("XDG_CACHE_HOME") : qputenv("XDG_CACHE_HOME", cache);
        QTEST(lock.isEmpty() ? lock : QDir(top.path()).relativeFilePath(QFileInfo(lock).path()), "where");
        QVERIFY(lock.isEmpty() || !(QFileInfo(QFileInfo(lock).path()).permissions() & (QFile::WriteGroup | QFile::WriteOther)));
        QCOMPARE(ofProgram, lock);
        QVERIFY(lock.isEmpty() || ofAnother != lock);
    }
};

QTEST_MAIN(tst_modStartClient)
#include "tst_modStartClient.moc"
