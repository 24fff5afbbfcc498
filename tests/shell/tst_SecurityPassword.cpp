// The security password: the gate's prompt and the definition dialog, answered while the
// caller waits.
#include "settings/modGlobClientVar.h"
#include "shell/modSecurityPassword.h"

#include "DialogScript.h"
#include "Panel.h"

#include <QApplication>
#include <QPointer>

using namespace modGlobClientVar;
using modSecurityPassword::CheckSecurityPassword;

namespace {

// The raw line of the key in Client.cfg, or a null string when there is none.
QString storedLine()
{
    for (const QByteArray &line : TestSupport::readBytes(gClientCfgFile).split('\n'))
        if (line.trimmed().startsWith("SecurityPassword"))
            return QString::fromUtf8(line.trimmed());
    return {};
}

void checkBox(const MsgBox::Call &box, const QString &text, const char *owner)
{
    QCOMPARE(box.text, text);
    QCOMPARE(box.style, int(MsgBox::Exclamation));
    QCOMPARE(box.caption, QStringLiteral("Torvane_Veskora"));
    QVERIFY(box.owner && box.owner->objectName() == QLatin1String(owner));
}

// Ok by Return in the field, or a refusal by Cancel, the close box or Esc.
void answer(bool define, const char *field, const QString &how)
{
    if (how == QLatin1String("cancel"))
        clickIn(define, "cmdCancel");
    else if (how == QLatin1String("close"))
        dialogChild<QWidget>(define, field)->window()->close();
    else
        QTest::keyClick(dialogChild<QLineEdit>(define, field), how.isEmpty() ? Qt::Key_Return : Qt::Key_Escape);
}

} // namespace

class tst_SecurityPassword : public QObject
{
    Q_OBJECT

    std::unique_ptr<TestSupport::ProgramDir> dir;
    std::unique_ptr<TestSupport::MsgBoxRecorder> boxes;

    void storePassword(const QString &value)
    {
        dir->write(QStringLiteral("Client.cfg"), {"[Client]", "txtServer=host", "SecurityPassword=" + value});
    }

private slots:
    void init()
    {
        dir = std::make_unique<TestSupport::ProgramDir>();
        boxes = std::make_unique<TestSupport::MsgBoxRecorder>();
        gSecurityEnabled = true;
        gPasswordOk = gWaitPasswordPrompt = gWaitPasswordDefine = false;
    }
    void cleanup()
    {
        if (frmEnterPassword *p = frmEnterPassword::Instance())
            p->Unload();
        if (frmPassDefine *d = frmPassDefine::Instance())
            d->Unload();
        QTRY_VERIFY(QApplication::topLevelWidgets().isEmpty());
        boxes.reset();
        dir.reset();
    }

    void gateOffGrantsWithoutPrompt()
    {
        gSecurityEnabled = false;
        storePassword(QStringLiteral("Secret"));
        QVERIFY(CheckSecurityPassword());
        QVERIFY(!frmEnterPassword::Instance());
    }

    // Only exactly the stored password opens the gate ("0" means none; a long one counts as
    // read back, cut); a wrong entry stays in the prompt. Cancel, close box and Esc say no.
    void entryMatching_data()
    {
        QTest::addColumn<QString>("stored");
        QTest::addColumn<QString>("entry");
        QTest::addColumn<QString>("how"); // empty: Return
        QTest::addColumn<bool>("granted");
        const QString longOne = QString(300, QLatin1Char('a')) + QStringLiteral("XYZ");
        QTest::newRow("none, empty entry") << "0" << "" << "" << true;
        QTest::newRow("none, entry 0") << "0" << "0" << "" << false;
        QTest::newRow("exact") << "Secret" << "Secret" << "" << true;
        QTest::newRow("lower case") << "Secret" << "secret" << "" << false;
        QTest::newRow("empty entry") << "Secret" << "" << "" << false;
        QTest::newRow("umlauts") << QString::fromUtf8("Päßwörd") << QString::fromUtf8("Päßwörd") << "" << true;
        QTest::newRow("long, in full") << longOne << longOne << "" << false;
        QTest::newRow("long, cut at 254") << longOne << longOne.left(254) << "" << true;
        for (const char *how : {"cancel", "close", "escape"})
            QTest::addRow("%s", how) << "Secret" << "Secret" << QString::fromLatin1(how) << false;
    }
    void entryMatching()
    {
        QFETCH(QString, stored);
        QFETCH(QString, entry);
        QFETCH(QString, how);
        QFETCH(bool, granted);
        storePassword(stored);
        bool startedEmpty = false, keptOpen = false;
        DialogScript script;
        script.then(promptShown)
            .act([&] {
                auto *field = dialogChild<QLineEdit>(false, "txtEnterPassword");
                startedEmpty = field->text().isEmpty();
                field->setText(entry);
                answer(false, "txtEnterPassword", how);
            })
            .act([&] {
                keptOpen = promptShown() && dialogChild<QLineEdit>(false, "txtEnterPassword")->text() == entry;
                if (promptShown())
                    clickIn(false, "cmdCancel");
            });
        script.start();
        QCOMPARE(CheckSecurityPassword(), granted);
        QVERIFY(!script.timedOut() && startedEmpty);
        const bool wrong = !granted && how.isEmpty();
        QCOMPARE(keptOpen, wrong);
        QCOMPARE(boxes->calls.size(), wrong ? 1 : 0);
        if (wrong)
            checkBox(boxes->calls.first(), QStringLiteral("Wrong Password"), "frmEnterPassword");
    }

    // A second call while a dialog is open shows that dialog, not reloaded (the password
    // stored meanwhile does not count), and one answer ends both calls, the inner first.
    void secondCallSharesTheDialog_data()
    {
        QTest::addColumn<bool>("define");
        QTest::addColumn<bool>("answerOk");
        QTest::newRow("gate, Ok") << false << true;
        QTest::newRow("gate, Cancel") << false << false;
        QTest::newRow("Security, Cancel") << true << false;
    }
    void secondCallSharesTheDialog()
    {
        QFETCH(bool, define);
        QFETCH(bool, answerOk);
        storePassword(QStringLiteral("first"));
        const char *field = define ? "txtNewPassword" : "txtEnterPassword";
        auto call = [define] {
            if (define)
                modSecurityPassword::mnuSecConfig_Click();
            return define ? QStringLiteral("done") : QString::number(CheckSecurityPassword());
        };
        QStringList order;
        QPointer<QWidget> first;
        bool sameWindow = false;
        DialogScript script;
        script.then(define ? defineShown : promptShown)
            .act([&] {
                first = dialogChild<QWidget>(define, field)->window();
                dialogChild<QLineEdit>(define, field)->setText(QStringLiteral("fir"));
                storePassword(QStringLiteral("second"));
                QTimer::singleShot(0, [&] { order << "inner start" << "inner " + call(); });
            })
            .then([&] { return order.contains(QStringLiteral("inner start")); })
            .act([&] {
                auto *edit = dialogChild<QLineEdit>(define, field);
                sameWindow = edit->window() == first && edit->text() == "fir";
                edit->setText(QStringLiteral("first"));
                clickIn(define, answerOk ? "cmdOk" : "cmdCancel");
            });
        script.start();
        order << "outer " + call();
        QVERIFY(!script.timedOut() && sameWindow);
        const QString result = define ? QStringLiteral("done") : QString::number(answerOk);
        QCOMPARE(order, (QStringList{"inner start", "inner " + result, "outer " + result}));
        QTRY_VERIFY(first.isNull());
    }

    // Checked in order: the old password, both entries alike, the file keeping it as typed, the
    // file taking it; a refused definition stays open as filled and writes nothing. The old
    // field is disabled while none is defined. A saved password rules the next gate.
    void definition_data()
    {
        QTest::addColumn<QString>("stored"); // null: Client.cfg cannot be written
        QTest::addColumn<QStringList>("entries"); // old, new, verify
        QTest::addColumn<QString>("how"); // empty: Return
        QTest::addColumn<QString>("message"); // empty: no message
        const QString oldWrong = "Old Password is wrong!", notEqual = "Passwords are not equal!";
        QTest::newRow("old wrong") << "old" << QStringList{"Old", "new", "new"} << "" << oldWrong;
        QTest::newRow("old wrong, entries differ") << "old" << QStringList{"OLD", "new", "neu"} << "" << oldWrong;
        QTest::newRow("entries differ") << "old" << QStringList{"old", "new", "New"} << "" << notEqual;
        QTest::newRow("none, entries differ") << "0" << QStringList{"", "abc", "abd"} << "" << notEqual;
        QTest::newRow("not saved") << QString() << QStringList{"", "abc", "abc"} << ""
                                   << "The password could not be saved!";
        for (const char *unkept : {" lead", "trail ", "'quoted'"})
            QTest::addRow("not kept: [%s]", unkept) << "old" << QStringList{"old", unkept, unkept} << ""
                                                 << "A password cannot begin or end with a blank or be enclosed in quotes!";
        QTest::newRow("inner blank, lone quotes") << "old" << QStringList{"old", "a \"b'", "a \"b'"} << "" << "";
        QTest::newRow("cancel") << "old" << QStringList{"old", "x", "x"} << "cancel" << "";
        QTest::newRow("0 means none") << "old" << QStringList{"old", "0", "0"} << "" << "";
        QTest::newRow("first definition") << "0" << QStringList{"", "abc", "abc"} << "" << "";
    }
    void definition()
    {
        QFETCH(QString, stored);
        QFETCH(QStringList, entries);
        QFETCH(QString, how);
        QFETCH(QString, message);
        if (stored.isNull())
            gClientCfgFile = dir->file(QStringLiteral("missing-directory/Client.cfg"));
        else
            storePassword(stored);
        const bool defined = !stored.isNull() && stored != QLatin1String("0");
        const bool saved = how.isEmpty() && message.isEmpty();
        const char *const names[] = {"txtOldPassword", "txtNewPassword", "txtVerifyNewPassword"};
        const auto field = [&](int i) { return dialogChild<QLineEdit>(true, names[i]); };
        bool oldFieldRight = false;
        QStringList left; // in the fields after the answer
        DialogScript script;
        script.then(defineShown)
            .then([&] { return frmPassDefine::Instance()->focusWidget() == field(defined ? 0 : 1); })
            .act([&] {
                oldFieldRight = field(0)->isEnabled() == defined && field(0)->text().isEmpty();
                for (int i = 0; i < 3; ++i)
                    field(i)->setText(entries.at(i));
                answer(true, names[1], how);
            })
            .act([&] {
                for (int i = 0; defineShown() && i < 3; ++i)
                    left << field(i)->text();
                if (defineShown())
                    clickIn(true, "cmdCancel");
            });
        script.start();
        modSecurityPassword::mnuSecConfig_Click();
        QVERIFY(!script.timedOut() && oldFieldRight);
        QCOMPARE(left, message.isEmpty() ? QStringList() : entries);
        QCOMPARE(gPasswordOk, saved);
        QCOMPARE(boxes->calls.size(), message.isEmpty() ? 0 : 1);
        if (!message.isEmpty())
            checkBox(boxes->calls.first(), message, "frmPassDefine");
        const QString now = saved ? entries.at(1) : stored;
        QCOMPARE(storedLine(), now.isNull() ? QString() : "SecurityPassword=" + now);
        if (!saved)
            return;
        DialogScript gateScript;
        gateScript.then(promptShown).enter(defined ? stored : QString()).enter(now == "0" ? QString() : now).start();
        QVERIFY(CheckSecurityPassword());
        QVERIFY(!gateScript.timedOut());
        QCOMPARE(boxes->texts(), QStringList{"Wrong Password"});
    }
};

QTEST_MAIN(tst_SecurityPassword)
#include "tst_SecurityPassword.moc"
