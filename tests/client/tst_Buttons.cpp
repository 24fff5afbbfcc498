#include "../shell/DialogScript.h"
#include "../support/TestSupport.h"

#include "client/frmClient.h"
#include "platform/ErrorNumbers.h"
#include "serverlink/SocketControl.h"
#include "settings/modGlobClientVar.h"
#include "system/OnScreenKeyboard.h"

#include <QFile>
#include <QPointer>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>

using namespace modGlobClientVar;

namespace {

// The companion program's end of the side link: collects what the panel sends.
class Peer : public QObject
{
public:
    Peer()
    {
        server.listen(QHostAddress::LocalHost);
        QObject::connect(&server, &QTcpServer::newConnection, this, [this] {
            socket = server.nextPendingConnection();
            QObject::connect(socket, &QTcpSocket::readyRead, this, [this] { received += socket->readAll(); });
        });
    }
    QTcpServer server;
    QTcpSocket *socket = nullptr;
    QByteArray received;
};

const QString badStateText = QStringLiteral("error:%1 %2").arg(ErrorNumbers::SocketBadState.number).arg(
    QString::fromLatin1(ErrorNumbers::SocketBadState.description));

} // namespace

class tst_Buttons : public QObject
{
    Q_OBJECT

    std::unique_ptr<TestSupport::ProgramDir> dir;
    std::unique_ptr<TestSupport::MsgBoxRecorder> boxes;
    std::unique_ptr<frmClient> form;
    std::unique_ptr<Peer> peer;

    bool connectLink()
    {
        QSignalSpy connected(form->Winsock, &SocketControl::Connected);
        QSignalSpy accepted(&peer->server, &QTcpServer::newConnection);
        form->Winsock->Connect(QStringLiteral("127.0.0.1"), peer->server.serverPort());
        if ((connected.isEmpty() && !connected.wait(5000)) || (accepted.isEmpty() && !accepted.wait(5000)))
            return false;
        return peer->socket && form->Winsock->State() == SocketControl::sckConnected;
    }

private slots:
    void init()
    {
        dir = std::make_unique<TestSupport::ProgramDir>();
        boxes = std::make_unique<TestSupport::MsgBoxRecorder>();
        gSecurityEnabled = true;
        form = std::make_unique<frmClient>();
        form->cmdRestart->setEnabled(true);
        form->cmdShutDown->setEnabled(true);
        peer = std::make_unique<Peer>();
        OnScreenKeyboard::SetProgram(QString());
    }

    void cleanup()
    {
        if (frmEnterPassword *p = frmEnterPassword::Instance())
            p->Unload();
        form.reset();
        peer.reset();
        boxes.reset();
        dir.reset();
        OnScreenKeyboard::SetProgram(QString());
    }

    // Restart and Turn Off ask the server only after the gate; a send on a closed link, also
    // one that dropped while the prompt was open, says so in panel 2 and is not retried.
    void requestAfterTheGate_data()
    {
        QTest::addColumn<QString>("button");
        QTest::addColumn<QString>("link");
        QTest::addColumn<bool>("granted");
        QTest::addColumn<QByteArray>("frame");
        QTest::newRow("Restart") << "cmdRestart" << "up" << true << QByteArray("@#cmd:12##Argument:1###@");
        QTest::newRow("Turn Off") << "cmdShutDown" << "up" << true << QByteArray("@#cmd:12##Argument:3###@");
        QTest::newRow("Restart refused") << "cmdRestart" << "up" << false << QByteArray();
        QTest::newRow("Turn Off refused") << "cmdShutDown" << "up" << false << QByteArray();
        QTest::newRow("Restart, link down") << "cmdRestart" << "down" << true << QByteArray();
        QTest::newRow("Turn Off, link down") << "cmdShutDown" << "down" << true << QByteArray();
        QTest::newRow("Restart, link drops") << "cmdRestart" << "drops" << true << QByteArray();
    }
    void requestAfterTheGate()
    {
        QFETCH(QString, button);
        QFETCH(QString, link);
        QFETCH(bool, granted);
        QFETCH(QByteArray, frame);
        if (link != QLatin1String("down"))
            QVERIFY(connectLink());
        form->setPanelText(2, QStringLiteral("before"));
        bool sentBeforeAnswer = true;
        DialogScript script;
        script.then(promptShown)
            .act([&] {
                sentBeforeAnswer = !peer->received.isEmpty();
                if (link == QLatin1String("drops"))
                    peer->socket->disconnectFromHost();
            })
            .then([&] { return link != QLatin1String("drops") || form->Winsock->State() != SocketControl::sckConnected; })
            .act([&] {
                frmEnterPassword *p = frmEnterPassword::Instance();
                QTest::mouseClick(granted ? p->cmdOk : p->cmdCancel, Qt::LeftButton);
            });
        script.start();
        QTest::mouseClick(form->findChild<QPushButton *>(button), Qt::LeftButton);
        QVERIFY(!script.timedOut());
        QVERIFY(!sentBeforeAnswer);
        QVERIFY(boxes->calls.isEmpty());
        if (link != QLatin1String("up")) {
            QCOMPARE(form->PanelText(2), badStateText);
            QVERIFY(peer->received.isEmpty());
            return;
        }
        // Whatever the button sent arrives before this marker.
        form->Winsock->SendData(QStringLiteral("marker"));
        QTRY_VERIFY(peer->received.endsWith("marker"));
        QCOMPARE(peer->received, frame + "marker");
        QCOMPARE(form->PanelText(2), QStringLiteral("before"));
    }

    // The main window is thrown away (a tray command rebuilding it) while the prompt is open.
    void windowGoneDuringThePrompt()
    {
        QVERIFY(connectLink());
        QPointer<frmClient> watched = form.get();
        DialogScript script;
        script.then(promptShown).act([&] { form.reset(); }).answerPrompt(true);
        script.start();
        watched->cmdShutDown_Click();
        QVERIFY(!script.timedOut());
        QVERIFY(watched.isNull());
        QTRY_VERIFY(peer->socket->state() != QAbstractSocket::ConnectedState);
        QCOMPARE(peer->received, QByteArray());
    }

    // What typing below cannot reach: control codes and characters beyond plain keys.
    void keyFilters_data()
    {
        QTest::addColumn<bool>("port");
        QTest::addColumn<QString>("before");
        QTest::addColumn<int>("key");
        QTest::addColumn<int>("expected");
        const QString s30(30, QLatin1Char('s'));
        QTest::newRow("port Backspace at five") << true << "12345" << 8 << 8;
        QTest::newRow("port Ctrl+V") << true << "123" << 22 << 0;
        QTest::newRow("port Enter") << true << "123" << 13 << 0;
        QTest::newRow("port non-Latin digit") << true << "1" << 0x0663 << 0;
        QTest::newRow("port beyond 16 bits") << true << "1" << 0x10030 << 0;
        QTest::newRow("server Ctrl+V") << false << "sss" << 22 << 22;
        QTest::newRow("server Backspace at 30") << false << s30 << 8 << 8;
        QTest::newRow("server Ctrl+V at 31") << false << s30 + "s" << 22 << 0;
    }
    void keyFilters()
    {
        QFETCH(bool, port);
        QFETCH(QString, before);
        QFETCH(int, key);
        QFETCH(int, expected);
        QLineEdit *field = port ? form->txtPort : form->txtServer;
        field->setText(before);
        int code = key;
        if (port)
            form->txtPort_KeyPress(code);
        else
            form->txtServer_KeyPress(code);
        QCOMPARE(code, expected);
        QCOMPARE(field->text(), before);
    }

    // The limits as the operator meets them: digits only in the port, "+", "-" and letters
    // in the server field; Backspace is a character key and is discarded at the limit, while
    // Delete and the cursor keys still work.
    void typing_data()
    {
        QTest::addColumn<bool>("port");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("shown");
        QTest::newRow("port") << true << "1a2+3-4.5 678" << "123456";
        const QString server = QStringLiteral("terminal-server.example+1-2.plant.local");
        QTest::newRow("server") << false << server << server.left(31);
    }
    void typing()
    {
        QFETCH(bool, port);
        QFETCH(QString, typed);
        QFETCH(QString, shown);
        form->show();
        QVERIFY(QTest::qWaitForWindowExposed(form.get()));
        QLineEdit *field = port ? form->txtPort : form->txtServer;
        field->clear();
        field->setFocus();
        QTest::keyClicks(field, typed);
        QCOMPARE(field->text(), shown);
        QTest::keyClick(field, Qt::Key_Backspace);
        QCOMPARE(field->text(), shown);
        QTest::keyClick(field, Qt::Key_Home);
        QTest::keyClick(field, Qt::Key_Delete);
        QCOMPARE(field->text(), shown.mid(1));
        QTest::keyClick(field, Qt::Key_End);
        QTest::keyClick(field, Qt::Key_Backspace);
        QCOMPARE(field->text(), shown.mid(1).chopped(1));
    }

    // Every click starts the program again, detached, without arguments and without a gate.
    void keyboardStartsTheProgramEachClick()
    {
        QTemporaryDir tmp;
        const QString log = tmp.filePath(QStringLiteral("started.log"));
        QFile script(tmp.filePath(QStringLiteral("fake-keyboard")));
        QVERIFY(script.open(QIODevice::WriteOnly));
        script.write(QStringLiteral("#!/bin/sh\necho \"$#\" >> '%1'\n").arg(log).toUtf8());
        script.close();
        QVERIFY(script.setPermissions(QFileDevice::ReadOwner | QFileDevice::ExeOwner));
        OnScreenKeyboard::SetProgram(script.fileName());
        form->setPanelText(2, QStringLiteral("unchanged"));
        QTest::mouseClick(form->cmdKeyboard, Qt::LeftButton);
        QTest::mouseClick(form->cmdKeyboard, Qt::LeftButton);
        QVERIFY(!frmEnterPassword::Instance());
        auto lines = [&] {
            QFile f(log);
            return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
        };
        QTRY_COMPARE(lines(), QByteArray("0\n0\n"));
        QCOMPARE(form->PanelText(2), QStringLiteral("unchanged"));
    }

    void keyboardThatCannotStart_data()
    {
        QTest::addColumn<QString>("program");
        QTest::newRow("name not on the search path") << "veskora-no-such-keyboard";
        QTest::newRow("not executable") << "notexec";
    }
    void keyboardThatCannotStart()
    {
        QFETCH(QString, program);
        QTemporaryDir tmp;
        if (program == QLatin1String("notexec")) {
            program = tmp.filePath(QStringLiteral("keyboard.txt"));
            QFile f(program);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write("not a program\n");
        }
        OnScreenKeyboard::SetProgram(program);
        QTest::mouseClick(form->cmdKeyboard, Qt::LeftButton);
        const QString text = form->PanelText(2);
        QVERIFY2(text.startsWith(QLatin1String("On-Screen Keyboard could not be started")), qPrintable(text));
        QVERIFY2(text.contains(program), qPrintable(text));
        QVERIFY(boxes->calls.isEmpty());
        // The panel goes on: a second click says the same, nothing else happens.
        QTest::mouseClick(form->cmdKeyboard, Qt::LeftButton);
        QCOMPARE(form->PanelText(2), text);
    }
};

QTEST_MAIN(tst_Buttons)
#include "tst_Buttons.moc"
