#include "DialogScript.h"
#include "../support/TestSupport.h"

#include "settings/modSettings.h"
#include "shell/modSecurityPassword.h"
#include "startup/modGlobClientVar.h"
#include "system/modSystemBasic.h"

#include <QApplication>
#include <QFile>
#include <QLabel>
#include <QPointer>
#include <QScreen>

using namespace modGlobClientVar;
using modSecurityPassword::CheckSecurityPassword;

namespace {

// The raw line of the key in Client.cfg, or a null string when there is none.
QString storedLine()
{
    QFile f(gClientCfgFile);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    for (const QByteArray &line : f.readAll().split('\n'))
        if (line.trimmed().startsWith("SecurityPassword"))
            return QString::fromUtf8(line.trimmed());
    return {};
}

// The focus as the Tab key moves it, from the current focus, once round.
QList<QWidget *> tabSequence(QWidget *window)
{
    QList<QWidget *> seen{window->focusWidget()};
    for (int i = 0; i < 8 && (seen.size() == 1 || seen.last() != seen.first()); ++i) {
        QTest::keyClick(window->focusWidget(), Qt::Key_Tab);
        seen << window->focusWidget();
    }
    return seen;
}

// Both dialogs: fixed, centred, above other windows, password fields, focus and Tab order.
void checkDialog(QWidget &w, const char *title, QSize size, QPushButton *ok, const QList<QWidget *> &tabOrder)
{
    w.show();
    QCOMPARE(w.windowTitle(), QString::fromLatin1(title));
    QCOMPARE(w.size(), size);
    QCOMPARE(w.minimumSize(), w.maximumSize());
    QVERIFY(ok->isDefault());
    for (QLineEdit *field : w.findChildren<QLineEdit *>())
        QCOMPARE(field->echoMode(), QLineEdit::Password);
    const Qt::WindowFlags flags = w.windowFlags();
    QVERIFY(flags & Qt::WindowStaysOnTopHint);
    QVERIFY(!(flags & (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint)));
    QVERIFY(flags & Qt::WindowCloseButtonHint);
    QVERIFY(!w.isModal());
    QVERIFY(!w.parentWidget());
    QVERIFY((w.geometry().center() - w.screen()->geometry().center()).manhattanLength() <= 2);
    QVERIFY(QTest::qWaitForWindowActive(&w));
    QTRY_COMPARE(w.focusWidget(), tabOrder.first());
    QCOMPARE(tabSequence(&w), tabOrder + QList<QWidget *>{tabOrder.first()});
}

void checkBox(const MsgBox::Call &box, const char *text, const char *owner)
{
    QCOMPARE(box.text, QString::fromLatin1(text));
    QCOMPARE(box.style, int(MsgBox::Exclamation));
    QCOMPARE(box.caption, QStringLiteral("Torvane_Veskora"));
    QVERIFY(box.owner);
    QCOMPARE(box.owner->objectName(), QString::fromLatin1(owner));
}

void refuseBy(const QString &how, QWidget *dialog, QPushButton *cancel, QWidget *field)
{
    if (how == QLatin1String("cancel"))
        QTest::mouseClick(cancel, Qt::LeftButton);
    else if (how == QLatin1String("close"))
        dialog->close();
    else
        QTest::keyClick(field, Qt::Key_Escape);
}

// Fills the definition dialog and presses Ok, or refuses it as `how` says.
std::function<void()> fill(const QString &old, const QString &entry, const QString &verify, const QString &how = {})
{
    return [=] {
        frmPassDefine *d = frmPassDefine::Instance();
        d->txtOldPassword->setText(old);
        d->txtNewPassword->setText(entry);
        d->txtVerifyNewPassword->setText(verify);
        if (how.isEmpty())
            QTest::mouseClick(d->cmdOk, Qt::LeftButton);
        else
            refuseBy(how, d, d->cmdCancel, d->txtNewPassword);
    };
}

// The open dialog of either kind.
struct Dialog
{
    QWidget *window;
    QLineEdit *field;
    QPushButton *ok, *cancel;
    QString expected;
};
Dialog openDialog(bool define)
{
    if (define) {
        frmPassDefine *d = frmPassDefine::Instance();
        return {d, d->txtNewPassword, d->cmdOk, d->cmdCancel, d->mSecurityPassword};
    }
    frmEnterPassword *p = frmEnterPassword::Instance();
    return {p, p->txtEnterPassword, p->cmdOk, p->cmdCancel, p->mSecurityPassword};
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
    bool gate(DialogScript &script)
    {
        script.start();
        const bool granted = CheckSecurityPassword();
        return granted && !script.timedOut();
    }
    void securityEntry(DialogScript &script)
    {
        script.start();
        modSecurityPassword::mnuSecConfig_Click();
        QVERIFY(!script.timedOut());
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
    // one); a refused entry keeps the prompt with the entry as typed.
    void entryMatching_data()
    {
        QTest::addColumn<QString>("stored"); // null: no Client.cfg
        QTest::addColumn<QString>("entry");
        QTest::addColumn<bool>("granted");
        QTest::newRow("no file, empty entry") << QString() << "" << true;
        QTest::newRow("none defined, empty entry") << "0" << "" << true;
        QTest::newRow("none defined, entry 0") << "0" << "0" << false;
        QTest::newRow("exact") << "Secret" << "Secret" << true;
        QTest::newRow("lower case") << "Secret" << "secret" << false;
        QTest::newRow("prefix") << "Secret" << "Secre" << false;
        QTest::newRow("empty entry") << "Secret" << "" << false;
        QTest::newRow("umlauts") << QString::fromUtf8("Päßwörd") << QString::fromUtf8("Päßwörd") << true;
    }
    void entryMatching()
    {
        QFETCH(QString, stored);
        QFETCH(QString, entry);
        QFETCH(bool, granted);
        if (!stored.isNull())
            storePassword(stored);
        bool startedEmpty = false;
        bool stillOpenWithEntry = false;
        DialogScript script;
        script.then(promptShown)
            .act([&] {
                QLineEdit *field = frmEnterPassword::Instance()->txtEnterPassword;
                startedEmpty = field->text().isEmpty();
                field->setText(entry);
                QTest::keyClick(field, Qt::Key_Return);
            })
            .act([&] {
                frmEnterPassword *p = frmEnterPassword::Instance();
                stillOpenWithEntry = p && p->isVisible() && p->txtEnterPassword->text() == entry;
                if (p)
                    QTest::mouseClick(p->cmdCancel, Qt::LeftButton);
            });
        QCOMPARE(gate(script), granted);
        QVERIFY(startedEmpty);
        QCOMPARE(gPasswordOk, granted);
        QVERIFY(!gWaitPasswordPrompt);
        QVERIFY(!frmEnterPassword::Instance());
        if (granted) {
            QVERIFY(boxes->calls.isEmpty());
            return;
        }
        QVERIFY(stillOpenWithEntry);
        QCOMPARE(boxes->calls.size(), 1);
        checkBox(boxes->calls.first(), "Wrong Password", "frmEnterPassword");
    }

    // Cancel, the close box and Esc refuse either dialog: the gate says no, nothing is written.
    void refusal_data()
    {
        QTest::addColumn<bool>("define");
        QTest::addColumn<QString>("how");
        for (bool define : {false, true})
            for (const char *how : {"cancel", "close", "escape"})
                QTest::addRow("%s, %s", define ? "definition" : "prompt", how) << define << QString::fromLatin1(how);
    }
    void refusal()
    {
        QFETCH(bool, define);
        QFETCH(QString, how);
        storePassword(QString()); // even an empty entry would be right
        const QString before = storedLine();
        DialogScript script;
        // Filled so that Ok would succeed.
        script.then(define ? defineShown : promptShown).act(define ? fill("", "x", "x", how) : [how] {
            Dialog d = openDialog(false);
            refuseBy(how, d.window, d.cancel, d.field);
        });
        script.start();
        if (define)
            modSecurityPassword::mnuSecConfig_Click();
        else
            QVERIFY(!CheckSecurityPassword());
        QVERIFY(!script.timedOut());
        QVERIFY(!gPasswordOk);
        QVERIFY(!frmEnterPassword::Instance() && !frmPassDefine::Instance());
        QVERIFY(boxes->calls.isEmpty());
        QCOMPARE(storedLine(), before);
    }

    // A second call while a dialog is open shows the open dialog (not loaded again, so the
    // stored password is not read again), and one answer ends both calls with the same
    // result, the inner call first.
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
            if (!define)
                return QString::number(CheckSecurityPassword());
            modSecurityPassword::mnuSecConfig_Click();
            return QStringLiteral("done");
        };
        QStringList order;
        QPointer<QWidget> first;
        bool sameNotReloaded = false;
        DialogScript script;
        script.then(define ? defineShown : promptShown)
            .act([&] {
                first = openDialog(define).window;
                openDialog(define).field->setText(QStringLiteral("fir"));
                storePassword(QStringLiteral("second"));
                QTimer::singleShot(0, [&] {
                    order << QStringLiteral("inner start");
                    order << "inner " + call();
                });
            })
            .then([&] { return order.contains(QStringLiteral("inner start")); })
            .act([&] {
                Dialog d = openDialog(define);
                sameNotReloaded = d.window == first && d.expected == QLatin1String("first")
                                  && d.field->text() == QLatin1String("fir");
                d.field->setText(QStringLiteral("first"));
                QTest::mouseClick(answerOk ? d.ok : d.cancel, Qt::LeftButton);
            });
        script.start();
        order << "outer " + call();
        QVERIFY(!script.timedOut());
        QVERIFY(sameNotReloaded);
        const QString result = define ? QStringLiteral("done") : QString::number(answerOk);
        QCOMPARE(order, (QStringList{"inner start", "inner " + result, "outer " + result}));
        QTRY_VERIFY(first.isNull());
    }

    // Passwords longer than the accessor reads back are compared in their shortened form.
    void longStoredPasswordIsComparedCut()
    {
        const QString full = QString(300, QLatin1Char('a')) + QStringLiteral("XYZ");
        storePassword(full);
        DialogScript script;
        script.then(promptShown).enter(full).enter(full.left(254));
        QVERIFY(gate(script));
        QCOMPARE(boxes->texts(), QStringList{"Wrong Password"});
    }

    void promptLayout()
    {
        QCOMPARE(modSystemBasic::TwipsPerPixelX(), 15);
        frmEnterPassword &p = frmEnterPassword::Load();
        QCOMPARE(p.font().family(), QStringLiteral("Arial"));
        QCOMPARE(p.font().pointSizeF(), 8.25);
        checkDialog(p, "Password", {331, 110}, p.cmdOk, {p.txtEnterPassword, p.cmdOk, p.cmdCancel});
    }

    void defineLayout()
    {
        frmPassDefine &d = frmPassDefine::Load();
        // Nothing can be typed that the accessor would not read back.
        QTest::keyClicks(d.txtNewPassword, QString(260, QLatin1Char('p')));
        QCOMPARE(d.txtNewPassword->text().size(), 254);
        QCOMPARE(d.txtVerifyNewPassword->maxLength(), 254);
        d.txtNewPassword->clear();
        checkDialog(d, "Password Definition", {318, 173}, d.cmdOk,
                    {d.txtOldPassword, d.txtNewPassword, d.txtVerifyNewPassword, d.cmdOk, d.cmdCancel});
    }

    // Refused definitions and the order of the checks: the old password first. Without a
    // defined password the old field is disabled and the focus starts in the new one.
    void defineRefused_data()
    {
        QTest::addColumn<QString>("stored");
        QTest::addColumn<QString>("oldEntry");
        QTest::addColumn<QString>("newEntry");
        QTest::addColumn<QString>("verifyEntry");
        QTest::addColumn<QString>("message");
        QTest::newRow("old wrong") << "old" << "Old" << "new" << "new" << "Old Password is wrong!";
        QTest::newRow("old wrong and entries differ") << "old" << "OLD" << "new" << "neu" << "Old Password is wrong!";
        QTest::newRow("entries differ") << "old" << "old" << "new" << "New" << "Passwords are not equal!";
        QTest::newRow("verify empty") << "old" << "old" << "new" << "" << "Passwords are not equal!";
        QTest::newRow("none defined, entries differ") << "0" << "" << "abc" << "abd" << "Passwords are not equal!";
    }
    void defineRefused()
    {
        QFETCH(QString, stored);
        QFETCH(QString, oldEntry);
        QFETCH(QString, newEntry);
        QFETCH(QString, verifyEntry);
        QFETCH(QString, message);
        storePassword(stored);
        const bool defined = stored != QLatin1String("0");
        bool oldFieldRight = false;
        bool keptOpenWithEntries = false;
        DialogScript script;
        script.then(defineShown)
            .then([&] {
                frmPassDefine *d = frmPassDefine::Instance();
                if (d->focusWidget() != (defined ? d->txtOldPassword : d->txtNewPassword))
                    return false;
                oldFieldRight = d->txtOldPassword->isEnabled() == defined && d->txtOldPassword->text().isEmpty();
                return true;
            })
            .act(fill(oldEntry, newEntry, verifyEntry))
            .act([&] {
                frmPassDefine *d = frmPassDefine::Instance();
                keptOpenWithEntries = d && d->isVisible() && d->txtOldPassword->text() == oldEntry
                                      && d->txtNewPassword->text() == newEntry
                                      && d->txtVerifyNewPassword->text() == verifyEntry;
                if (d)
                    QTest::mouseClick(d->cmdCancel, Qt::LeftButton);
            });
        securityEntry(script);
        QVERIFY(oldFieldRight);
        QVERIFY(keptOpenWithEntries);
        QCOMPARE(boxes->calls.size(), 1);
        checkBox(boxes->calls.first(), qPrintable(message), "frmPassDefine");
        QVERIFY(!gPasswordOk);
        QCOMPARE(storedLine(), "SecurityPassword=" + stored);
    }

    // Saves through the definition dialog, then checks how the next definition dialog and
    // the next gate read it back: "0" means no password.
    void savedPasswordTakesEffect_data()
    {
        QTest::addColumn<QString>("stored");
        QTest::addColumn<QString>("saved");
        QTest::addColumn<bool>("oldFieldEnabledNext");
        QTest::addColumn<QString>("gateEntry"); // the entry the next gate accepts
        QTest::addColumn<QString>("refusedEntry");
        QTest::newRow("text") << "old" << "Neu" << true << "Neu" << "neu";
        QTest::newRow("empty text") << "old" << "" << true << "" << "x";
        QTest::newRow("0 means none") << "old" << "0" << false << "" << "0";
        QTest::newRow("first definition") << "0" << "abc" << true << "abc" << "ABC";
    }
    void savedPasswordTakesEffect()
    {
        QFETCH(QString, stored);
        QFETCH(QString, saved);
        QFETCH(bool, oldFieldEnabledNext);
        QFETCH(QString, gateEntry);
        QFETCH(QString, refusedEntry);
        storePassword(stored);
        DialogScript save;
        save.then(defineShown).act(fill(stored == QLatin1String("0") ? QString() : stored, saved, saved));
        securityEntry(save);
        QVERIFY(boxes->calls.isEmpty());
        QVERIFY(gPasswordOk);
        QVERIFY(!gWaitPasswordDefine);
        QVERIFY(!frmPassDefine::Instance());
        QCOMPARE(storedLine(), "SecurityPassword=" + saved);

        bool enabled = !oldFieldEnabledNext;
        DialogScript look;
        look.then(defineShown).act([&] {
            enabled = frmPassDefine::Instance()->txtOldPassword->isEnabled();
            QTest::mouseClick(frmPassDefine::Instance()->cmdCancel, Qt::LeftButton);
        });
        securityEntry(look);
        QCOMPARE(enabled, oldFieldEnabledNext);

        DialogScript gateScript;
        gateScript.then(promptShown).enter(refusedEntry).enter(gateEntry);
        QVERIFY(gate(gateScript));
        QCOMPARE(boxes->texts(), QStringList{"Wrong Password"});
    }

    // A password that does not reach the file is not reported as set.
    void unsavablePasswordIsNotReportedAsSet()
    {
        gClientCfgFile = dir->file(QStringLiteral("missing-directory/Client.cfg"));
        DialogScript script;
        script.then(defineShown)
            .act(fill("", "abc", "abc"))
            .act([] {
                if (frmPassDefine *d = frmPassDefine::Instance())
                    QTest::mouseClick(d->cmdCancel, Qt::LeftButton);
            });
        securityEntry(script);
        QCOMPARE(boxes->texts(), QStringList{"The password could not be saved!"});
        QVERIFY(!gPasswordOk);
        QVERIFY(!QFile::exists(gClientCfgFile));
    }
};

QTEST_MAIN(tst_SecurityPassword)
#include "tst_SecurityPassword.moc"
