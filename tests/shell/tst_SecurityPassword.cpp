// The security password: the gate's prompt and the definition dialog, as the operator
// answers them while the caller waits.
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
    QVERIFY(box.owner);
    QCOMPARE(box.owner->objectName(), QString::fromLatin1(owner));
}

// The open dialog of either kind, the field typed into and the password it expects.
struct Dialog
{
    QDialog *window;
    QLineEdit *field;
    QString expected;
    QPushButton *button(const char *name) const { return window->findChild<QPushButton *>(name); }
};
Dialog openDialog(bool define)
{
    if (frmPassDefine *d = define ? frmPassDefine::Instance() : nullptr)
        return {d, d->txtNewPassword, d->mSecurityPassword};
    frmEnterPassword *p = frmEnterPassword::Instance();
    return {p, p->txtEnterPassword, p->mSecurityPassword};
}

// Ok by Return in the field, or a refusal by Cancel, the close box or Esc.
void answer(const Dialog &d, const QString &how)
{
    if (how == QLatin1String("cancel"))
        QTest::mouseClick(d.button("cmdCancel"), Qt::LeftButton);
    else if (how == QLatin1String("close"))
        d.window->close();
    else
        QTest::keyClick(d.field, how.isEmpty() ? Qt::Key_Return : Qt::Key_Escape);
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

    // Only exactly the stored password opens the gate ("0", or none at all, means the empty
    // one, and a long one counts as read back, cut); a wrong entry stays in the prompt.
    // Cancel, the close box and Esc say no even where Ok would say yes.
    void entryMatching_data()
    {
        QTest::addColumn<QString>("stored"); // null: no Client.cfg
        QTest::addColumn<QString>("entry");
        QTest::addColumn<QString>("how"); // empty: Return
        QTest::addColumn<bool>("granted");
        const QString longOne = QString(300, QLatin1Char('a')) + QStringLiteral("XYZ");
        QTest::newRow("no file, empty entry") << QString() << "" << "" << true;
        QTest::newRow("none defined, empty entry") << "0" << "" << "" << true;
        QTest::newRow("none defined, entry 0") << "0" << "0" << "" << false;
        QTest::newRow("exact") << "Secret" << "Secret" << "" << true;
        QTest::newRow("lower case") << "Secret" << "secret" << "" << false;
        QTest::newRow("prefix") << "Secret" << "Secre" << "" << false;
        QTest::newRow("empty entry") << "Secret" << "" << "" << false;
        QTest::newRow("umlauts") << QString::fromUtf8("Päßwörd") << QString::fromUtf8("Päßwörd") << "" << true;
        QTest::newRow("long, in full") << longOne << longOne << "" << false;
        QTest::newRow("long, cut at 254") << longOne << longOne.left(254) << "" << true;
        for (const char *how : {"cancel", "close", "escape"})
            QTest::addRow("refused by %s", how) << "Secret" << "Secret" << QString::fromLatin1(how) << false;
    }
    void entryMatching()
    {
        QFETCH(QString, stored);
        QFETCH(QString, entry);
        QFETCH(QString, how);
        QFETCH(bool, granted);
        if (!stored.isNull())
            storePassword(stored);
        bool startedEmpty = false, keptOpen = false;
        DialogScript script;
        script.then(promptShown)
            .act([&] {
                const Dialog d = openDialog(false);
                startedEmpty = d.field->text().isEmpty();
                d.field->setText(entry);
                answer(d, how);
            })
            .act([&] {
                keptOpen = promptShown() && frmEnterPassword::Instance()->txtEnterPassword->text() == entry;
                if (promptShown())
                    QTest::mouseClick(frmEnterPassword::Instance()->cmdCancel, Qt::LeftButton);
            });
        script.start();
        QCOMPARE(CheckSecurityPassword(), granted);
        QVERIFY(!script.timedOut());
        QVERIFY(startedEmpty);
        const bool wrong = !granted && how.isEmpty();
        QCOMPARE(keptOpen, wrong);
        QCOMPARE(boxes->calls.size(), wrong ? 1 : 0);
        if (wrong)
            checkBox(boxes->calls.first(), QStringLiteral("Wrong Password"), "frmEnterPassword");
    }

    // A second call while a dialog is open shows the open dialog (not loaded again, so the
    // stored password is not read again), and one answer ends both calls, the inner first.
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
        auto call = [define] {
            if (define)
                modSecurityPassword::mnuSecConfig_Click();
            return define ? QStringLiteral("done") : QString::number(CheckSecurityPassword());
        };
        QStringList order;
        QPointer<QDialog> first;
        bool sameNotReloaded = false;
        DialogScript script;
        script.then(define ? defineShown : promptShown)
            .act([&] {
                first = openDialog(define).window;
                openDialog(define).field->setText(QStringLiteral("fir"));
                storePassword(QStringLiteral("second"));
                QTimer::singleShot(0, [&] { order << "inner start" << "inner " + call(); });
            })
            .then([&] { return order.contains(QStringLiteral("inner start")); })
            .act([&] {
                const Dialog d = openDialog(define);
                sameNotReloaded = d.window == first && d.expected == "first" && d.field->text() == "fir";
                d.field->setText(QStringLiteral("first"));
                QTest::mouseClick(d.button(answerOk ? "cmdOk" : "cmdCancel"), Qt::LeftButton);
            });
        script.start();
        order << "outer " + call();
        QVERIFY(!script.timedOut());
        QVERIFY(sameNotReloaded);
        const QString result = define ? QStringLiteral("done") : QString::number(answerOk);
        QCOMPARE(order, (QStringList{"inner start", "inner " + result, "outer " + result}));
        QTRY_VERIFY(first.isNull());
    }

    // Checked in order: the old password, both entries alike, the file taking it; a refused
    // definition stays open as filled and writes nothing. Without a defined password the old
    // field is disabled. A saved password rules the next gate, "0" meaning none.
    void definition_data()
    {
        QTest::addColumn<QString>("stored"); // null: Client.cfg cannot be written
        QTest::addColumn<QStringList>("entries"); // old, new, verify
        QTest::addColumn<QString>("how"); // empty: Return
        QTest::addColumn<QString>("message"); // empty: no message
        const QString oldWrong = "Old Password is wrong!", notEqual = "Passwords are not equal!";
        QTest::newRow("old wrong") << "old" << QStringList{"Old", "new", "new"} << "" << oldWrong;
        QTest::newRow("old wrong and entries differ") << "old" << QStringList{"OLD", "new", "neu"} << "" << oldWrong;
        QTest::newRow("entries differ") << "old" << QStringList{"old", "new", "New"} << "" << notEqual;
        QTest::newRow("verify empty") << "old" << QStringList{"old", "new", ""} << "" << notEqual;
        QTest::newRow("none defined, entries differ") << "0" << QStringList{"", "abc", "abd"} << "" << notEqual;
        QTest::newRow("not saved") << QString() << QStringList{"", "abc", "abc"} << ""
                                   << "The password could not be saved!";
        // The file's rules would give back another password than the one typed.
        for (const char *unkept : {" lead", "trail ", "\tlead", "\"quoted\"", "'quoted'", "''"})
            QTest::addRow("not kept: [%s]", unkept) << "old" << QStringList{"old", unkept, unkept} << ""
                                                 << "A password cannot begin or end with a blank or be enclosed in quotes!";
        QTest::newRow("inner blank and lone quotes") << "old" << QStringList{"old", "a \"b'", "a \"b'"} << "" << "";
        for (const char *how : {"cancel", "close", "escape"})
            QTest::addRow("refused by %s", how) << "old" << QStringList{"old", "x", "x"} << QString::fromLatin1(how) << "";
        QTest::newRow("text") << "old" << QStringList{"old", "Neu", "Neu"} << "" << "";
        QTest::newRow("empty text") << "old" << QStringList{"old", "", ""} << "" << "";
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
        auto fields = [] { return frmPassDefine::Instance()->findChildren<QLineEdit *>(); }; // old, new, verify
        bool oldFieldRight = false;
        QStringList left; // in the fields after the answer
        DialogScript script;
        script.then(defineShown)
            .then([&] { return frmPassDefine::Instance()->focusWidget() == fields().at(defined ? 0 : 1); })
            .act([&] {
                oldFieldRight = fields().first()->isEnabled() == defined && fields().first()->text().isEmpty();
                for (int i = 0; i < 3; ++i)
                    fields().at(i)->setText(entries.at(i));
                answer(openDialog(true), how);
            })
            .act([&] {
                for (QLineEdit *field : defineShown() ? fields() : QList<QLineEdit *>())
                    left << field->text();
                if (defineShown())
                    QTest::mouseClick(frmPassDefine::Instance()->cmdCancel, Qt::LeftButton);
            });
        script.start();
        modSecurityPassword::mnuSecConfig_Click();
        QVERIFY(!script.timedOut());
        QVERIFY(oldFieldRight);
        QCOMPARE(left, message.isEmpty() ? QStringList() : entries);
        QCOMPARE(gPasswordOk, saved);
        QCOMPARE(boxes->calls.size(), message.isEmpty() ? 0 : 1);
        if (!message.isEmpty())
            checkBox(boxes->calls.first(), message, "frmPassDefine");
        if (!saved) {
            QCOMPARE(storedLine(), stored.isNull() ? QString() : "SecurityPassword=" + stored);
            return;
        }
        const QString now = entries.at(1);
        QCOMPARE(storedLine(), "SecurityPassword=" + now);
        DialogScript gateScript;
        gateScript.then(promptShown).enter(defined ? stored : QString()).enter(now == "0" ? QString() : now).start();
        QVERIFY(CheckSecurityPassword());
        QVERIFY(!gateScript.timedOut());
        QCOMPARE(boxes->texts(), QStringList{"Wrong Password"});
    }
};

QTEST_MAIN(tst_SecurityPassword)
#include "tst_SecurityPassword.moc"
