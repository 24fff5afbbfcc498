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

void checkGeometry(std::initializer_list<std::pair<QWidget *, QRect>> expected)
{
    for (const auto &[widget, rect] : expected)
        QCOMPARE(widget->geometry(), rect);
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

void refuseBy(const QString &how, QWidget *dialog, QPushButton *cancel, QWidget *field)
{
    if (how == QLatin1String("cancel"))
        QTest::mouseClick(cancel, Qt::LeftButton);
    else if (how == QLatin1String("close"))
        dialog->close();
    else
        QTest::keyClick(field, Qt::Key_Escape);
}

void refusals()
{
    QTest::addColumn<QString>("how");
    QTest::newRow("Cancel button") << "cancel";
    QTest::newRow("close box") << "close";
    QTest::newRow("Esc") << "escape";
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
        const MsgBox::Call &box = boxes->calls.first();
        QCOMPARE(box.text, QStringLiteral("Wrong Password"));
        QCOMPARE(box.style, int(MsgBox::Exclamation));
        QCOMPARE(box.caption, QStringLiteral("Torvane_Veskora"));
        QVERIFY(box.owner);
        QCOMPARE(box.owner->objectName(), QStringLiteral("frmEnterPassword"));
    }

    void refusal_data() { refusals(); }
    void refusal()
    {
        QFETCH(QString, how);
        storePassword(QString()); // even an empty entry would be right
        DialogScript script;
        script.then(promptShown).act([&] {
            frmEnterPassword *p = frmEnterPassword::Instance();
            refuseBy(how, p, p->cmdCancel, p->txtEnterPassword);
        });
        script.start();
        QVERIFY(!CheckSecurityPassword());
        QVERIFY(!script.timedOut());
        QVERIFY(!gPasswordOk);
        QVERIFY(!frmEnterPassword::Instance());
        QVERIFY(boxes->calls.isEmpty());
    }

    // A second gate call while the prompt is open shows the same prompt (not loaded again),
    // and one answer ends both calls with the same result, the inner call first.
    void secondGateSharesThePrompt_data()
    {
        QTest::addColumn<bool>("answerOk");
        QTest::newRow("Ok") << true;
        QTest::newRow("Cancel") << false;
    }
    void secondGateSharesThePrompt()
    {
        QFETCH(bool, answerOk);
        storePassword(QStringLiteral("first"));
        QStringList order;
        QPointer<frmEnterPassword> outerPrompt;
        bool sameNotReloaded = false;
        DialogScript script;
        script.then(promptShown)
            .act([&] {
                outerPrompt = frmEnterPassword::Instance();
                outerPrompt->txtEnterPassword->setText(QStringLiteral("fir"));
                storePassword(QStringLiteral("second"));
                QTimer::singleShot(0, [&] {
                    order << QStringLiteral("inner start");
                    order << QStringLiteral("inner %1").arg(CheckSecurityPassword());
                });
            })
            .then([&] { return order.contains(QStringLiteral("inner start")); })
            .act([&] {
                frmEnterPassword *p = frmEnterPassword::Instance();
                sameNotReloaded = p == outerPrompt && p->mSecurityPassword == QLatin1String("first")
                                  && p->txtEnterPassword->text() == QLatin1String("fir");
                p->txtEnterPassword->setText(QStringLiteral("first"));
                QTest::mouseClick(answerOk ? p->cmdOk : p->cmdCancel, Qt::LeftButton);
            });
        script.start();
        order << QStringLiteral("outer %1").arg(CheckSecurityPassword());
        QVERIFY(!script.timedOut());
        QVERIFY(sameNotReloaded);
        QCOMPARE(order, (QStringList{"inner start", QStringLiteral("inner %1").arg(answerOk),
                                     QStringLiteral("outer %1").arg(answerOk)}));
        QTRY_VERIFY(outerPrompt.isNull());
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
        QCOMPARE(p.Label4->text(), QStringLiteral("Enter your Password:"));
        QCOMPARE(p.cmdOk->text(), QStringLiteral("&Ok"));
        QCOMPARE(p.cmdCancel->text(), QStringLiteral("Cancel"));
        QCOMPARE(p.font().family(), QStringLiteral("Arial"));
        QCOMPARE(p.font().pointSizeF(), 8.25);
        checkGeometry({{p.Label4, {24, 28, 153, 20}}, {p.txtEnterPassword, {192, 28, 117, 21}},
                       {p.cmdOk, {140, 76, 81, 25}}, {p.cmdCancel, {228, 76, 81, 25}}});
        checkDialog(p, "Password", {331, 110}, p.cmdOk, {p.txtEnterPassword, p.cmdOk, p.cmdCancel});
    }

    void defineLayout()
    {
        frmPassDefine &d = frmPassDefine::Load();
        QCOMPARE(d.Label4->text(), QStringLiteral("Old Password:"));
        QCOMPARE(d.Label2->text(), QStringLiteral("New Password:"));
        QCOMPARE(d.Label1->text(), QStringLiteral("Verify new Password"));
        checkGeometry({{d.Label4, {24, 20, 133, 20}}, {d.txtOldPassword, {172, 20, 125, 21}},
                       {d.txtNewPassword, {172, 60, 125, 21}}, {d.txtVerifyNewPassword, {172, 100, 125, 21}},
                       {d.cmdOk, {128, 140, 81, 25}}, {d.cmdCancel, {216, 140, 81, 25}}});
        // Nothing can be typed that the accessor would not read back.
        QTest::keyClicks(d.txtNewPassword, QString(260, QLatin1Char('p')));
        QCOMPARE(d.txtNewPassword->text().size(), 254);
        QCOMPARE(d.txtVerifyNewPassword->maxLength(), 254);
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
                d->txtOldPassword->setText(oldEntry);
                d->txtNewPassword->setText(newEntry);
                d->txtVerifyNewPassword->setText(verifyEntry);
                QTest::mouseClick(d->cmdOk, Qt::LeftButton);
                return true;
            })
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
        QCOMPARE(boxes->texts(), QStringList{message});
        QCOMPARE(boxes->calls.first().style, int(MsgBox::Exclamation));
        QVERIFY(boxes->calls.first().owner);
        QCOMPARE(boxes->calls.first().owner->objectName(), QStringLiteral("frmPassDefine"));
        QVERIFY(!gPasswordOk);
        QCOMPARE(storedLine(), "SecurityPassword=" + stored);
    }

    void defineCancelWritesNothing_data() { refusals(); }
    void defineCancelWritesNothing()
    {
        QFETCH(QString, how);
        storePassword(QStringLiteral("old"));
        QFile f(gClientCfgFile);
        QVERIFY(f.open(QIODevice::ReadOnly));
        const QByteArray before = f.readAll();
        DialogScript script;
        script.then(defineShown).act([&] {
            frmPassDefine *d = frmPassDefine::Instance();
            d->txtOldPassword->setText(QStringLiteral("old"));
            d->txtNewPassword->setText(QStringLiteral("x"));
            d->txtVerifyNewPassword->setText(QStringLiteral("x"));
            refuseBy(how, d, d->cmdCancel, d->txtNewPassword);
        });
        securityEntry(script);
        QVERIFY(!gPasswordOk);
        QVERIFY(!frmPassDefine::Instance());
        QVERIFY(f.seek(0));
        QCOMPARE(f.readAll(), before);
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
        save.then(defineShown).act([&] {
            frmPassDefine *d = frmPassDefine::Instance();
            if (stored != QLatin1String("0"))
                d->txtOldPassword->setText(stored);
            d->txtNewPassword->setText(saved);
            d->txtVerifyNewPassword->setText(saved);
            QTest::mouseClick(d->cmdOk, Qt::LeftButton);
        });
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
            .act([] {
                frmPassDefine *d = frmPassDefine::Instance();
                d->txtNewPassword->setText(QStringLiteral("abc"));
                d->txtVerifyNewPassword->setText(QStringLiteral("abc"));
                QTest::mouseClick(d->cmdOk, Qt::LeftButton);
            })
            .act([] {
                if (frmPassDefine *d = frmPassDefine::Instance())
                    QTest::mouseClick(d->cmdCancel, Qt::LeftButton);
            });
        securityEntry(script);
        QCOMPARE(boxes->texts(), QStringList{"The password could not be saved!"});
        QVERIFY(!gPasswordOk);
        QVERIFY(!QFile::exists(gClientCfgFile));
    }

    // A Security click while the dialog is open shows the open dialog; no second load.
    void secondSecurityClickSharesTheDialog()
    {
        storePassword(QStringLiteral("old"));
        QStringList order;
        QPointer<frmPassDefine> first;
        bool same = false;
        DialogScript script;
        script.then(defineShown)
            .act([&] {
                first = frmPassDefine::Instance();
                first->txtNewPassword->setText(QStringLiteral("typed"));
                QTimer::singleShot(0, [&] {
                    order << QStringLiteral("inner start");
                    modSecurityPassword::mnuSecConfig_Click();
                    order << QStringLiteral("inner end");
                });
            })
            .then([&] { return order.contains(QStringLiteral("inner start")); })
            .act([&] {
                same = frmPassDefine::Instance() == first && first->txtNewPassword->text() == QLatin1String("typed");
                QTest::mouseClick(first->cmdCancel, Qt::LeftButton);
            });
        securityEntry(script);
        order << QStringLiteral("outer end");
        QVERIFY(same);
        QCOMPARE(order, (QStringList{"inner start", "inner end", "outer end"}));
    }
};

QTEST_MAIN(tst_SecurityPassword)
#include "tst_SecurityPassword.moc"
