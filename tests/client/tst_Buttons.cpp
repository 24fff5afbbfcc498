#include "../shell/DialogScript.h"
#include "../support/TestSupport.h"

#include "client/frmClient.h"
#include "platform/ErrorNumbers.h"
#include "serverlink/SocketControl.h"
#include "shell/frmEnterPassword.h"
#include "startup/modGlobClientVar.h"
#include "system/OnScreenKeyboard.h"

#include <QApplication>
#include <QFile>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>

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

// Answers the password prompt as soon as it shows: Ok with an empty entry (no password is
// defined in the test's program directory), or Cancel.
void answerPrompt(DialogScript &script, bool ok)
{
    script.then([] { return frmEnterPassword::Instance() && frmEnterPassword::Instance()->isVisible(); })
        .act([ok] {
            frmEnterPassword *p = frmEnterPassword::Instance();
            QTest::mouseClick(ok ? p->cmdOk : p->cmdCancel, Qt::LeftButton);
        });
}

QString badStateText()
{
    return QStringLiteral("error:%1 %2")
        .arg(ErrorNumbers::SocketBadState.number)
        .arg(QString::fromLatin1(ErrorNumbers::SocketBadState.description));
}

} // namespace

class tst_Buttons : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<TestSupport::ProgramDir> dir;
    std::unique_ptr<TestSupport::MsgBoxRecorder> boxes;
    std::unique_ptr<frmClient> form;
    std::unique_ptr<Peer> peer;

    // Connects the main window's side link to the test peer.
    bool connectLink()
    {
        QSignalSpy connected(form->Winsock, &SocketControl::Connected);
        QSignalSpy accepted(&peer->server, &QTcpServer::newConnection);
        form->Winsock->Connect(QStringLiteral("127.0.0.1"), peer->server.serverPort());
        if (connected.isEmpty() && !connected.wait(5000))
            return false;
        if (accepted.isEmpty() && !accepted.wait(5000))
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

    void requestAfterTheGate_data()
    {
        QTest::addColumn<QString>("button");
        QTest::addColumn<QByteArray>("frame");
        QTest::newRow("Restart") << "cmdRestart" << QByteArray("@#cmd:12##Argument:1###@");
        QTest::newRow("Turn Off") << "cmdShutDown" << QByteArray("@#cmd:12##Argument:3###@");
    }
    void requestAfterTheGate()
    {
        QFETCH(QString, button);
        QFETCH(QByteArray, frame);
        QVERIFY(connectLink());
        auto *b = form->findChild<QPushButton *>(button);
        QVERIFY(b);
        bool sentBeforeAnswer = true;
        DialogScript script;
        script.then([] { return frmEnterPassword::Instance() && frmEnterPassword::Instance()->isVisible(); })
            .act([&] {
                // Nothing goes out while the prompt is open.
                sentBeforeAnswer = !peer->received.isEmpty();
                QTest::mouseClick(frmEnterPassword::Instance()->cmdOk, Qt::LeftButton);
            });
        script.start();
        QTest::mouseClick(b, Qt::LeftButton);
        QVERIFY(!script.timedOut());
        QVERIFY(!sentBeforeAnswer);
        QTRY_COMPARE(peer->received, frame);
        QCOMPARE(form->PanelText(2), QString());
    }

    void refusedGateSendsNothing_data()
    {
        QTest::addColumn<QString>("button");
        QTest::newRow("Restart") << "cmdRestart";
        QTest::newRow("Turn Off") << "cmdShutDown";
    }
    void refusedGateSendsNothing()
    {
        QFETCH(QString, button);
        QVERIFY(connectLink());
        form->setPanelText(2, QStringLiteral("before"));
        DialogScript script;
        answerPrompt(script, false);
        script.start();
        QTest::mouseClick(form->findChild<QPushButton *>(button), Qt::LeftButton);
        QVERIFY(!script.timedOut());
        // Whatever the button sent would arrive before this marker.
        form->Winsock->SendData(QStringLiteral("marker"));
        QTRY_VERIFY(peer->received.endsWith("marker"));
        QCOMPARE(peer->received, QByteArray("marker"));
        QCOMPARE(form->PanelText(2), QStringLiteral("before"));
        QVERIFY(boxes->calls.isEmpty());
    }

    void linkDownShowsTheError_data()
    {
        QTest::addColumn<QString>("button");
        QTest::newRow("Restart") << "cmdRestart";
        QTest::newRow("Turn Off") << "cmdShutDown";
    }
    void linkDownShowsTheError()
    {
        QFETCH(QString, button);
        QCOMPARE(form->Winsock->State(), qint32(SocketControl::sckClosed));
        DialogScript script;
        answerPrompt(script, true);
        script.start();
        QTest::mouseClick(form->findChild<QPushButton *>(button), Qt::LeftButton);
        QVERIFY(!script.timedOut());
        QCOMPARE(form->PanelText(2), badStateText());
        QVERIFY(boxes->calls.isEmpty());
    }

    // The link drops while the prompt is open: the send fails and says so; no retry.
    void linkDropsDuringThePrompt()
    {
        QVERIFY(connectLink());
        DialogScript script;
        script.then([] { return frmEnterPassword::Instance() && frmEnterPassword::Instance()->isVisible(); })
            .act([&] { peer->socket->disconnectFromHost(); })
            .then([&] { return form->Winsock->State() != SocketControl::sckConnected; })
            .act([] { QTest::mouseClick(frmEnterPassword::Instance()->cmdOk, Qt::LeftButton); });
        script.start();
        QTest::mouseClick(form->cmdRestart, Qt::LeftButton);
        QVERIFY(!script.timedOut());
        QCOMPARE(form->PanelText(2), badStateText());
        QVERIFY(peer->received.isEmpty());
    }

    // The main window is thrown away (a tray command rebuilding it) while the prompt is open.
    void windowGoneDuringThePrompt()
    {
        QVERIFY(connectLink());
        QPointer<frmClient> watched = form.get();
        DialogScript script;
        script.then([] { return frmEnterPassword::Instance() && frmEnterPassword::Instance()->isVisible(); })
            .act([&] { form.reset(); })
            .act([] { QTest::mouseClick(frmEnterPassword::Instance()->cmdOk, Qt::LeftButton); });
        script.start();
        watched->cmdShutDown_Click();
        QVERIFY(!script.timedOut());
        QVERIFY(watched.isNull());
        QTRY_VERIFY(peer->socket->state() != QAbstractSocket::ConnectedState);
        QCOMPARE(peer->received, QByteArray());
    }

    // ---- key filters

    void portKey_data()
    {
        QTest::addColumn<QString>("before");
        QTest::addColumn<int>("key");
        QTest::addColumn<int>("expected");
        QTest::newRow("digit") << "" << int('5') << int('5');
        QTest::newRow("zero") << "1" << int('0') << int('0');
        QTest::newRow("nine") << "1" << int('9') << int('9');
        QTest::newRow("Backspace") << "123" << 8 << 8;
        QTest::newRow("plus") << "1" << int('+') << 0;
        QTest::newRow("minus") << "1" << int('-') << 0;
        QTest::newRow("point") << "1" << int('.') << 0;
        QTest::newRow("blank") << "1" << int(' ') << 0;
        QTest::newRow("letter") << "1" << int('a') << 0;
        QTest::newRow("capital") << "1" << int('Z') << 0;
        QTest::newRow("Ctrl+C") << "123" << 3 << 0;
        QTest::newRow("Ctrl+V") << "123" << 22 << 0;
        QTest::newRow("Ctrl+X") << "123" << 24 << 0;
        QTest::newRow("Enter") << "123" << 13 << 0;
        QTest::newRow("Escape") << "123" << 27 << 0;
        QTest::newRow("non-Latin digit") << "1" << 0x0663 << 0;
        QTest::newRow("beyond 16 bits") << "1" << 0x10030 << 0;
        QTest::newRow("sixth character") << "12345" << int('6') << int('6');
        QTest::newRow("Backspace at five") << "12345" << 8 << 8;
        QTest::newRow("seventh character") << "123456" << int('7') << 0;
        QTest::newRow("Backspace at six") << "123456" << 8 << 0;
        QTest::newRow("letter at six") << "123456" << int('a') << 0;
    }
    void portKey()
    {
        QFETCH(QString, before);
        QFETCH(int, key);
        QFETCH(int, expected);
        form->txtPort->setText(before);
        int code = key;
        form->txtPort_KeyPress(code);
        QCOMPARE(code, expected);
        QCOMPARE(form->txtPort->text(), before);
    }

    void serverKey_data()
    {
        QTest::addColumn<int>("length");
        QTest::addColumn<int>("key");
        QTest::addColumn<int>("expected");
        QTest::newRow("letter") << 0 << int('a') << int('a');
        QTest::newRow("plus") << 3 << int('+') << int('+');
        QTest::newRow("minus") << 3 << int('-') << int('-');
        QTest::newRow("point") << 3 << int('.') << int('.');
        QTest::newRow("Ctrl+V") << 3 << 22 << 22;
        QTest::newRow("Backspace") << 3 << 8 << 8;
        QTest::newRow("31st character") << 30 << int('x') << int('x');
        QTest::newRow("Backspace at 30") << 30 << 8 << 8;
        QTest::newRow("32nd character") << 31 << int('x') << 0;
        QTest::newRow("Backspace at 31") << 31 << 8 << 0;
        QTest::newRow("Ctrl+V at 31") << 31 << 22 << 0;
        QTest::newRow("beyond") << 40 << int('x') << 0;
    }
    void serverKey()
    {
        QFETCH(int, length);
        QFETCH(int, key);
        QFETCH(int, expected);
        const QString before(length, QLatin1Char('s'));
        form->txtServer->setText(before);
        int code = key;
        form->txtServer_KeyPress(code);
        QCOMPARE(code, expected);
        QCOMPARE(form->txtServer->text(), before);
    }

    // The same limits as the operator meets them, typing into the fields.
    void typingIntoThePortField()
    {
        form->show();
        QVERIFY(QTest::qWaitForWindowExposed(form.get()));
        QLineEdit *port = form->txtPort;
        port->clear();
        port->setFocus();
        QTest::keyClicks(port, QStringLiteral("1a2+3-4.5 678"));
        QCOMPARE(port->text(), QStringLiteral("123456"));
        // Backspace is a character key and is discarded at six characters ...
        QTest::keyClick(port, Qt::Key_Backspace);
        QCOMPARE(port->text(), QStringLiteral("123456"));
        // ... while Delete and the arrow keys still work.
        QTest::keyClick(port, Qt::Key_Left);
        QTest::keyClick(port, Qt::Key_Delete);
        QCOMPARE(port->text(), QStringLiteral("12345"));
        QTest::keyClick(port, Qt::Key_End);
        QTest::keyClick(port, Qt::Key_Backspace);
        QCOMPARE(port->text(), QStringLiteral("1234"));
    }

    void typingIntoTheServerField()
    {
        form->show();
        QVERIFY(QTest::qWaitForWindowExposed(form.get()));
        QLineEdit *server = form->txtServer;
        server->clear();
        server->setFocus();
        const QString typed = QStringLiteral("terminal-server.example+1-2.plant.local");
        QTest::keyClicks(server, typed);
        QCOMPARE(server->text(), typed.left(31));
        QTest::keyClick(server, Qt::Key_Backspace);
        QCOMPARE(server->text().size(), 31);
        QTest::keyClick(server, Qt::Key_Home);
        QTest::keyClick(server, Qt::Key_Delete);
        QCOMPARE(server->text(), typed.mid(1, 30));
        QTest::keyClick(server, Qt::Key_End);
        QTest::keyClick(server, Qt::Key_Backspace);
        QCOMPARE(server->text(), typed.mid(1, 29));
    }

    // ---- on-screen keyboard

    void keyboardDefaultIsTheDesktopKeyboard()
    {
        QCOMPARE(OnScreenKeyboard::Program(), QStringLiteral("onboard"));
    }

    // Every click starts the program again, detached, without arguments and without a gate.
    void keyboardStartsTheProgramEachClick()
    {
        QTemporaryDir tmp;
        const QString program = tmp.filePath(QStringLiteral("fake-keyboard"));
        const QString log = tmp.filePath(QStringLiteral("started.log"));
        QFile script(program);
        QVERIFY(script.open(QIODevice::WriteOnly));
        script.write(QStringLiteral("#!/bin/sh\necho \"$#\" >> '%1'\n").arg(log).toUtf8());
        script.close();
        QVERIFY(script.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner));
        OnScreenKeyboard::SetProgram(program);

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
        QTest::newRow("missing path") << "/nonexistent/onboard";
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
