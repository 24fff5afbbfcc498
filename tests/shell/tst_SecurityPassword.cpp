#include "DialogScript.h"
#include "../support/TestSupport.h"

#include "settings/modSettings.h"
#include "shell/frmEnterPassword.h"
#include "shell/frmPassDefine.h"
#include "shell/modSecurityPassword.h"
#include "startup/modGlobClientVar.h"
#include "system/modSystemBasic.h"

#include <QApplication>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QScreen>
#include <QSettings>
#include <QTest>

using namespace modGlobClientVar;
using modSecurityPassword::CheckSecurityPassword;

namespace {

// The raw line of the key in Client.cfg, or a null string when there is none.
QString storedLine(const QString &file)
{
    QFile f(file);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    for (const QByteArray &line : f.readAll().split('\n')) {
        const QString text = QString::fromUtf8(line).trimmed();
        if (text.startsWith(QLatin1String("SecurityPassword"), Qt::CaseInsensitive))
            return text;
    }
    return {};
}

void type(QLineEdit *field, const QString &text)
{
    field->clear();
    field->setText(text);
}

// Runs the gate with a script playing the operator; fails the test when the watchdog fired.
bool gateWith(DialogScript &script)
{
    script.start();
    const bool granted = CheckSecurityPassword();
    if (script.timedOut())
        qWarning("the dialog script did not finish; the watchdog cancelled the prompt");
    return granted;
}

// The focus as the Tab key moves it, from the current focus, once round.
QList<QWidget *> tabSequence(QWidget *window)
{
    QList<QWidget *> seen{window->focusWidget()};
    for (int i = 0; i < 8; ++i) {
        QTest::keyClick(window->focusWidget(), Qt::Key_Tab);
        seen << window->focusWidget();
        if (seen.last() == seen.first())
            break;
    }
    return seen;
}

bool promptShown()
{
    frmEnterPassword *p = frmEnterPassword::Instance();
    return p && p->isVisible();
}

bool defineShown()
{
    frmPassDefine *d = frmPassDefine::Instance();
    return d && d->isVisible();
}

} // namespace

class tst_SecurityPassword : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<TestSupport::ProgramDir> dir;
    std::unique_ptr<TestSupport::MsgBoxRecorder> boxes;

    void storePassword(const QString &value)
    {
        dir->write(QStringLiteral("Client.cfg"),
                   {QStringLiteral("[Client]"), QStringLiteral("txtServer=host"), QStringLiteral("SecurityPassword=") + value});
    }
    bool accessorBuilt()
    {
        dir->write(QStringLiteral("Probe.cfg"), {QStringLiteral("[Client]"), QStringLiteral("k=v")});
        QVariant v;
        modSettings::ReadSetting(dir->file(QStringLiteral("Probe.cfg")), QStringLiteral("Client"), QStringLiteral("k"),
                                 QStringLiteral("S"), QVariant(0), v);
        return v.toString() == QLatin1String("v");
    }

private slots:
    void init()
    {
        dir = std::make_unique<TestSupport::ProgramDir>();
        boxes = std::make_unique<TestSupport::MsgBoxRecorder>();
        gSecurityEnabled = true;
        gPasswordOk = false;
        gWaitPasswordPrompt = false;
        gWaitPasswordDefine = false;
        if (!accessorBuilt())
            QSKIP("the settings accessor does not read INI files yet");
    }

    void cleanup()
    {
        // Nothing may stay open into the next test.
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

    void noPasswordDefined_data()
    {
        QTest::addColumn<QStringList>("lines");
        QTest::newRow("no file") << QStringList();
        QTest::newRow("key missing") << QStringList{QStringLiteral("[Client]"), QStringLiteral("txtServer=host")};
        QTest::newRow("key is 0") << QStringList{QStringLiteral("[Client]"), QStringLiteral("SecurityPassword=0")};
    }
    void noPasswordDefined()
    {
        QFETCH(QStringList, lines);
        if (!lines.isEmpty())
            dir->write(QStringLiteral("Client.cfg"), lines);
        bool sawPrompt = false;
        DialogScript script;
        script
            .then([&] {
                frmEnterPassword *p = frmEnterPassword::Instance();
                if (!p || !p->isVisible())
                    return false;
                sawPrompt = p->windowTitle() == QLatin1String("Password") && p->txtEnterPassword->text().isEmpty()
                            && p->mSecurityPassword.isEmpty();
                return true;
            })
            .act([] { QTest::mouseClick(frmEnterPassword::Instance()->cmdOk, Qt::LeftButton); });
        QVERIFY(gateWith(script));
        QVERIFY(sawPrompt);
        QVERIFY(boxes->calls.isEmpty());
        QVERIFY(!frmEnterPassword::Instance());
        QVERIFY(!gWaitPasswordPrompt);
        QVERIFY(gPasswordOk);
    }

    // An entry is accepted only when it is exactly the stored password.
    void entryMatching_data()
    {
        QTest::addColumn<QString>("stored");
        QTest::addColumn<QString>("entry");
        QTest::addColumn<bool>("granted");
        QTest::newRow("exact") << "Secret" << "Secret" << true;
        QTest::newRow("lower case") << "Secret" << "secret" << false;
        QTest::newRow("upper case") << "Secret" << "SECRET" << false;
        QTest::newRow("prefix") << "Secret" << "Secre" << false;
        QTest::newRow("longer") << "Secret" << "Secret1" << false;
        QTest::newRow("empty entry") << "Secret" << "" << false;
        QTest::newRow("stored empty, empty entry") << "" << "" << true;
        QTest::newRow("stored empty, entry") << "" << "x" << false;
        QTest::newRow("none defined, entry 0") << "0" << "0" << false;
        QTest::newRow("umlauts") << QString::fromUtf8("Päßwörd") << QString::fromUtf8("Päßwörd") << true;
    }
    void entryMatching()
    {
        QFETCH(QString, stored);
        QFETCH(QString, entry);
        QFETCH(bool, granted);
        storePassword(stored);
        bool stillOpenWithEntry = false;
        DialogScript script;
        script
            .then([&] {
                if (!promptShown())
                    return false;
                type(frmEnterPassword::Instance()->txtEnterPassword, entry);
                // Enter is the Ok button.
                QTest::keyClick(frmEnterPassword::Instance()->txtEnterPassword, Qt::Key_Return);
                return true;
            })
            .act([&] {
                // A refused entry leaves the prompt open with the text as typed.
                frmEnterPassword *p = frmEnterPassword::Instance();
                stillOpenWithEntry = p && p->isVisible() && p->txtEnterPassword->text() == entry;
                if (p)
                    QTest::mouseClick(p->cmdCancel, Qt::LeftButton);
            });
        QCOMPARE(gateWith(script), granted);
        if (granted) {
            QVERIFY(boxes->calls.isEmpty());
        } else {
            QVERIFY(stillOpenWithEntry);
            QCOMPARE(boxes->calls.size(), 1);
            const MsgBox::Call &box = boxes->calls.first();
            QCOMPARE(box.text, QStringLiteral("Wrong Password"));
            QCOMPARE(box.style, int(MsgBox::Exclamation));
            QCOMPARE(box.caption, QStringLiteral("Torvane_Veskora"));
            QVERIFY(box.owner);
            QCOMPARE(box.owner->objectName(), QStringLiteral("frmEnterPassword"));
        }
    }

    void wrongEntriesHaveNoLimit()
    {
        storePassword(QStringLiteral("pw"));
        DialogScript script;
        script.then([] { return promptShown(); });
        for (int i = 0; i < 5; ++i)
            script.act([] {
                type(frmEnterPassword::Instance()->txtEnterPassword, QStringLiteral("bad"));
                QTest::mouseClick(frmEnterPassword::Instance()->cmdOk, Qt::LeftButton);
            });
        script.act([] {
            type(frmEnterPassword::Instance()->txtEnterPassword, QStringLiteral("pw"));
            QTest::mouseClick(frmEnterPassword::Instance()->cmdOk, Qt::LeftButton);
        });
        QVERIFY(gateWith(script));
        QCOMPARE(boxes->texts(), QStringList(5, QStringLiteral("Wrong Password")));
    }

    void refusal_data()
    {
        QTest::addColumn<QString>("how");
        QTest::newRow("Cancel button") << "cancel";
        QTest::newRow("close box") << "close";
        QTest::newRow("Esc") << "escape";
    }
    void refusal()
    {
        QFETCH(QString, how);
        storePassword(QString()); // even an empty entry would be right
        DialogScript script;
        script.then([] { return promptShown(); }).act([&] {
            frmEnterPassword *p = frmEnterPassword::Instance();
            if (how == QLatin1String("cancel"))
                QTest::mouseClick(p->cmdCancel, Qt::LeftButton);
            else if (how == QLatin1String("close"))
                p->close();
            else
                QTest::keyClick(p->txtEnterPassword, Qt::Key_Escape);
        });
        QVERIFY(!gateWith(script));
        QVERIFY(!script.timedOut());
        QVERIFY(!gPasswordOk);
        QVERIFY(!frmEnterPassword::Instance());
        QVERIFY(boxes->calls.isEmpty());
    }

    void everyGateLoadsTheStoredPasswordAnew()
    {
        storePassword(QStringLiteral("one"));
        DialogScript first;
        first.then([] { return promptShown(); }).act([] {
            type(frmEnterPassword::Instance()->txtEnterPassword, QStringLiteral("one"));
            QTest::mouseClick(frmEnterPassword::Instance()->cmdOk, Qt::LeftButton);
        });
        QVERIFY(gateWith(first));

        storePassword(QStringLiteral("two"));
        QString expected;
        QString entryAtStart = QStringLiteral("unset");
        DialogScript second;
        second.then([] { return promptShown(); }).act([&] {
            expected = frmEnterPassword::Instance()->mSecurityPassword;
            entryAtStart = frmEnterPassword::Instance()->txtEnterPassword->text();
            type(frmEnterPassword::Instance()->txtEnterPassword, QStringLiteral("two"));
            QTest::mouseClick(frmEnterPassword::Instance()->cmdOk, Qt::LeftButton);
        });
        QVERIFY(gateWith(second));
        QCOMPARE(expected, QStringLiteral("two"));
        QCOMPARE(entryAtStart, QString());
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
        script
            .then([&] {
                if (!promptShown())
                    return false;
                outerPrompt = frmEnterPassword::Instance();
                type(outerPrompt->txtEnterPassword, QStringLiteral("fir"));
                // A reload would read this and clear nothing else we could see.
                storePassword(QStringLiteral("second"));
                QTimer::singleShot(0, [&] {
                    order << QStringLiteral("inner start");
                    const bool r = CheckSecurityPassword();
                    order << QStringLiteral("inner %1").arg(r);
                });
                return true;
            })
            .then([&] { return order.contains(QStringLiteral("inner start")); })
            .act([&] {
                frmEnterPassword *p = frmEnterPassword::Instance();
                sameNotReloaded = p == outerPrompt && p->mSecurityPassword == QLatin1String("first")
                                  && p->txtEnterPassword->text() == QLatin1String("fir");
                if (answerOk) {
                    type(p->txtEnterPassword, QStringLiteral("first"));
                    QTest::mouseClick(p->cmdOk, Qt::LeftButton);
                } else {
                    QTest::mouseClick(p->cmdCancel, Qt::LeftButton);
                }
            });
        script.start();
        const bool outer = CheckSecurityPassword();
        order << QStringLiteral("outer %1").arg(outer);
        QVERIFY(!script.timedOut());
        QVERIFY(sameNotReloaded);
        QCOMPARE(order, (QStringList{QStringLiteral("inner start"), QStringLiteral("inner %1").arg(answerOk),
                                     QStringLiteral("outer %1").arg(answerOk)}));
        QTRY_VERIFY(outerPrompt.isNull());
    }

    // Passwords longer than the accessor reads back are compared in their shortened form.
    void longStoredPasswordIsComparedCut()
    {
        const QString full = QString(300, QLatin1Char('a')) + QStringLiteral("XYZ");
        storePassword(full);
        QVariant probe;
        modSettings::ReadSetting(gClientCfgFile, QStringLiteral("Client"), QStringLiteral("SecurityPassword"),
                                 QStringLiteral("S"), QVariant(0), probe);
        if (probe.toString().size() != 254)
            QSKIP("the settings accessor does not cut long values yet");

        auto enter = [](const QString &text) {
            return [text] {
                type(frmEnterPassword::Instance()->txtEnterPassword, text);
                QTest::mouseClick(frmEnterPassword::Instance()->cmdOk, Qt::LeftButton);
            };
        };
        DialogScript script;
        script.then([] { return promptShown(); }).act(enter(full)).act(enter(full.left(254)));
        QVERIFY(gateWith(script));
        QCOMPARE(boxes->texts(), QStringList{QStringLiteral("Wrong Password")});
    }

    void promptLayout()
    {
        QCOMPARE(modSystemBasic::TwipsPerPixelX(), 15);
        QCOMPARE(modSystemBasic::TwipsPerPixelY(), 15);
        frmEnterPassword &p = frmEnterPassword::Load();
        p.show();
        QCOMPARE(p.windowTitle(), QStringLiteral("Password"));
        QCOMPARE(p.size(), QSize(331, 110));
        QCOMPARE(p.minimumSize(), p.maximumSize());
        QCOMPARE(p.Label4->text(), QStringLiteral("Enter your Password:"));
        QCOMPARE(p.Label4->geometry(), QRect(24, 28, 153, 20));
        QCOMPARE(p.txtEnterPassword->geometry(), QRect(192, 28, 117, 21));
        QCOMPARE(p.cmdOk->geometry(), QRect(140, 76, 81, 25));
        QCOMPARE(p.cmdCancel->geometry(), QRect(228, 76, 81, 25));
        QCOMPARE(p.cmdOk->text(), QStringLiteral("&Ok"));
        QCOMPARE(p.cmdCancel->text(), QStringLiteral("Cancel"));
        QVERIFY(p.cmdOk->isDefault());
        QCOMPARE(p.txtEnterPassword->echoMode(), QLineEdit::Password);
        QCOMPARE(p.font().family(), QStringLiteral("Arial"));
        QCOMPARE(p.font().pointSizeF(), 8.25);
        // A fixed dialog above other windows, no minimize or maximize button.
        const Qt::WindowFlags flags = p.windowFlags();
        QVERIFY(flags & Qt::WindowStaysOnTopHint);
        QVERIFY(!(flags & Qt::WindowMinimizeButtonHint));
        QVERIFY(!(flags & Qt::WindowMaximizeButtonHint));
        QVERIFY(flags & Qt::WindowCloseButtonHint);
        QVERIFY(!p.isModal());
        QVERIFY(!p.parentWidget());
        QVERIFY(!p.windowIcon().isNull());
        // Centred on the screen.
        const QPoint centre = p.screen()->geometry().center();
        QVERIFY(qAbs(p.geometry().center().x() - centre.x()) <= 1);
        QVERIFY(qAbs(p.geometry().center().y() - centre.y()) <= 1);
        // The entry takes the focus when the prompt is activated.
        QVERIFY(QTest::qWaitForWindowActive(&p));
        QTRY_COMPARE(p.focusWidget(), static_cast<QWidget *>(p.txtEnterPassword));
        QCOMPARE(tabSequence(&p), (QList<QWidget *>{p.txtEnterPassword, p.cmdOk, p.cmdCancel, p.txtEnterPassword}));
    }

    // ---- the definition dialog

    void defineLayout()
    {
        frmPassDefine &d = frmPassDefine::Load();
        d.show();
        QCOMPARE(d.windowTitle(), QStringLiteral("Password Definition"));
        QCOMPARE(d.size(), QSize(318, 173));
        QCOMPARE(d.Label4->text(), QStringLiteral("Old Password:"));
        QCOMPARE(d.Label2->text(), QStringLiteral("New Password:"));
        QCOMPARE(d.Label1->text(), QStringLiteral("Verify new Password"));
        QCOMPARE(d.Label4->geometry(), QRect(24, 20, 133, 20));
        QCOMPARE(d.txtOldPassword->geometry(), QRect(172, 20, 125, 21));
        QCOMPARE(d.txtNewPassword->geometry(), QRect(172, 60, 125, 21));
        QCOMPARE(d.txtVerifyNewPassword->geometry(), QRect(172, 100, 125, 21));
        QCOMPARE(d.cmdOk->geometry(), QRect(128, 140, 81, 25));
        QCOMPARE(d.cmdCancel->geometry(), QRect(216, 140, 81, 25));
        QVERIFY(d.cmdOk->isDefault());
        QVERIFY(d.windowFlags() & Qt::WindowStaysOnTopHint);
        QVERIFY(QTest::qWaitForWindowActive(&d));
        QTRY_COMPARE(d.focusWidget(), static_cast<QWidget *>(d.txtOldPassword));
        QCOMPARE(tabSequence(&d), (QList<QWidget *>{d.txtOldPassword, d.txtNewPassword, d.txtVerifyNewPassword,
                                                   d.cmdOk, d.cmdCancel, d.txtOldPassword}));
        for (QLineEdit *field : {d.txtOldPassword, d.txtNewPassword, d.txtVerifyNewPassword})
            QCOMPARE(field->echoMode(), QLineEdit::Password);
    }

    void defineWithoutPassword()
    {
        storePassword(QStringLiteral("0"));
        bool oldDisabledAndEmpty = false;
        bool focusInNew = false;
        DialogScript script;
        script
            .then([&] {
                if (!defineShown())
                    return false;
                frmPassDefine *d = frmPassDefine::Instance();
                oldDisabledAndEmpty = !d->txtOldPassword->isEnabled() && d->txtOldPassword->text().isEmpty();
                return true;
            })
            .then([&] {
                frmPassDefine *d = frmPassDefine::Instance();
                if (d->focusWidget() != d->txtNewPassword)
                    return false;
                focusInNew = true;
                return true;
            })
            .act([] {
                frmPassDefine *d = frmPassDefine::Instance();
                QTest::keyClicks(d->txtNewPassword, QStringLiteral("abc"));
                QTest::keyClicks(d->txtVerifyNewPassword, QStringLiteral("abc"));
                QTest::mouseClick(d->cmdOk, Qt::LeftButton);
            });
        script.start();
        modSecurityPassword::mnuSecConfig_Click();
        QVERIFY(!script.timedOut());
        QVERIFY(oldDisabledAndEmpty);
        QVERIFY(focusInNew);
        QVERIFY(gPasswordOk);
        QVERIFY(!gWaitPasswordDefine);
        QVERIFY(boxes->calls.isEmpty());
        QCOMPARE(storedLine(gClientCfgFile), QStringLiteral("SecurityPassword=abc"));
        QVERIFY(!frmPassDefine::Instance());
    }

    // The three outcomes of Ok and the order of the checks: the old password first.
    void defineOk_data()
    {
        QTest::addColumn<QString>("oldEntry");
        QTest::addColumn<QString>("newEntry");
        QTest::addColumn<QString>("verifyEntry");
        QTest::addColumn<QString>("message");
        QTest::newRow("old wrong") << "Old" << "new" << "new" << "Old Password is wrong!";
        QTest::newRow("old wrong and entries differ") << "OLD" << "new" << "neu" << "Old Password is wrong!";
        QTest::newRow("entries differ") << "old" << "new" << "New" << "Passwords are not equal!";
        QTest::newRow("verify empty") << "old" << "new" << "" << "Passwords are not equal!";
        QTest::newRow("saved") << "old" << "new" << "new" << "";
        QTest::newRow("saved empty") << "old" << "" << "" << "";
    }
    void defineOk()
    {
        QFETCH(QString, oldEntry);
        QFETCH(QString, newEntry);
        QFETCH(QString, verifyEntry);
        QFETCH(QString, message);
        storePassword(QStringLiteral("old"));
        const bool saves = message.isEmpty();
        bool keptOpenWithEntries = false;
        bool oldEnabled = false;
        bool focusInOld = false;
        DialogScript script;
        script
            .then([&] {
                if (!defineShown())
                    return false;
                frmPassDefine *d = frmPassDefine::Instance();
                oldEnabled = d->txtOldPassword->isEnabled();
                return true;
            })
            .then([&] {
                frmPassDefine *d = frmPassDefine::Instance();
                if (d->focusWidget() != d->txtOldPassword)
                    return false;
                focusInOld = true;
                type(d->txtOldPassword, oldEntry);
                type(d->txtNewPassword, newEntry);
                type(d->txtVerifyNewPassword, verifyEntry);
                QTest::mouseClick(d->cmdOk, Qt::LeftButton);
                return true;
            })
            .act([&] {
                if (saves)
                    return;
                frmPassDefine *d = frmPassDefine::Instance();
                keptOpenWithEntries = d && d->isVisible() && d->txtOldPassword->text() == oldEntry
                                      && d->txtNewPassword->text() == newEntry
                                      && d->txtVerifyNewPassword->text() == verifyEntry;
                if (d)
                    QTest::mouseClick(d->cmdCancel, Qt::LeftButton);
            });
        script.start();
        modSecurityPassword::mnuSecConfig_Click();
        QVERIFY(!script.timedOut());
        QVERIFY(oldEnabled);
        QVERIFY(focusInOld);
        if (saves) {
            QVERIFY(boxes->calls.isEmpty());
            QVERIFY(gPasswordOk);
            QCOMPARE(storedLine(gClientCfgFile), QStringLiteral("SecurityPassword=") + newEntry);
        } else {
            QVERIFY(keptOpenWithEntries);
            QCOMPARE(boxes->texts(), QStringList{message});
            QCOMPARE(boxes->calls.first().style, int(MsgBox::Exclamation));
            QVERIFY(boxes->calls.first().owner);
            QCOMPARE(boxes->calls.first().owner->objectName(), QStringLiteral("frmPassDefine"));
            QVERIFY(!gPasswordOk);
            QCOMPARE(storedLine(gClientCfgFile), QStringLiteral("SecurityPassword=old"));
        }
    }

    void defineCancelWritesNothing_data()
    {
        QTest::addColumn<QString>("how");
        QTest::newRow("Cancel button") << "cancel";
        QTest::newRow("close box") << "close";
        QTest::newRow("Esc") << "escape";
    }
    void defineCancelWritesNothing()
    {
        QFETCH(QString, how);
        storePassword(QStringLiteral("old"));
        const QByteArray before = [&] {
            QFile f(gClientCfgFile);
            f.open(QIODevice::ReadOnly);
            return f.readAll();
        }();
        DialogScript script;
        script.then([] { return defineShown(); }).act([&] {
            frmPassDefine *d = frmPassDefine::Instance();
            type(d->txtOldPassword, QStringLiteral("old"));
            type(d->txtNewPassword, QStringLiteral("x"));
            type(d->txtVerifyNewPassword, QStringLiteral("x"));
            if (how == QLatin1String("cancel"))
                QTest::mouseClick(d->cmdCancel, Qt::LeftButton);
            else if (how == QLatin1String("close"))
                d->close();
            else
                QTest::keyClick(d->txtNewPassword, Qt::Key_Escape);
        });
        script.start();
        modSecurityPassword::mnuSecConfig_Click();
        QVERIFY(!script.timedOut());
        QVERIFY(!gPasswordOk);
        QVERIFY(!frmPassDefine::Instance());
        QFile f(gClientCfgFile);
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll(), before);
    }

    // Saves through the definition dialog, then checks how the next gate and the next
    // definition dialog see it.
    void savedPasswordTakesEffect_data()
    {
        QTest::addColumn<QString>("saved");
        QTest::addColumn<QString>("expectedLine");
        QTest::addColumn<bool>("oldFieldEnabledNext");
        QTest::addColumn<QString>("gateEntry"); // the entry the next gate accepts
        QTest::addColumn<QString>("refusedEntry");
        QTest::newRow("text") << "Neu" << "SecurityPassword=Neu" << true << "Neu" << "neu";
        QTest::newRow("empty text") << "" << "SecurityPassword=" << true << "" << "x";
        QTest::newRow("0 means none") << "0" << "SecurityPassword=0" << false << "" << "0";
    }
    void savedPasswordTakesEffect()
    {
        QFETCH(QString, saved);
        QFETCH(QString, expectedLine);
        QFETCH(bool, oldFieldEnabledNext);
        QFETCH(QString, gateEntry);
        QFETCH(QString, refusedEntry);
        storePassword(QStringLiteral("old"));
        DialogScript save;
        save.then([] { return defineShown(); }).act([&] {
            frmPassDefine *d = frmPassDefine::Instance();
            type(d->txtOldPassword, QStringLiteral("old"));
            type(d->txtNewPassword, saved);
            type(d->txtVerifyNewPassword, saved);
            QTest::mouseClick(d->cmdOk, Qt::LeftButton);
        });
        save.start();
        modSecurityPassword::mnuSecConfig_Click();
        QVERIFY(!save.timedOut());
        QCOMPARE(storedLine(gClientCfgFile), expectedLine);

        // The next definition dialog.
        bool enabled = !oldFieldEnabledNext;
        DialogScript look;
        look.then([] { return defineShown(); }).act([&] {
            enabled = frmPassDefine::Instance()->txtOldPassword->isEnabled();
            QTest::mouseClick(frmPassDefine::Instance()->cmdCancel, Qt::LeftButton);
        });
        look.start();
        modSecurityPassword::mnuSecConfig_Click();
        QCOMPARE(enabled, oldFieldEnabledNext);

        // The next gate.
        auto enter = [](const QString &text) {
            return [text] {
                type(frmEnterPassword::Instance()->txtEnterPassword, text);
                QTest::mouseClick(frmEnterPassword::Instance()->cmdOk, Qt::LeftButton);
            };
        };
        DialogScript gate;
        gate.then([] { return promptShown(); }).act(enter(refusedEntry)).act(enter(gateEntry));
        QVERIFY(gateWith(gate));
        QCOMPARE(boxes->texts(), QStringList{QStringLiteral("Wrong Password")});
    }

    void newPasswordFieldsTakeWhatCanBeReadBack()
    {
        frmPassDefine &d = frmPassDefine::Load();
        QCOMPARE(d.txtNewPassword->maxLength(), 254);
        QCOMPARE(d.txtVerifyNewPassword->maxLength(), 254);
        QTest::keyClicks(d.txtNewPassword, QString(260, QLatin1Char('p')));
        QCOMPARE(d.txtNewPassword->text().size(), 254);
    }

    // A password that does not reach the file is not reported as set.
    void unsavablePasswordIsNotReportedAsSet()
    {
        gClientCfgFile = dir->file(QStringLiteral("missing-directory/Client.cfg"));
        DialogScript script;
        script.then([] { return defineShown(); })
            .act([] {
                frmPassDefine *d = frmPassDefine::Instance();
                type(d->txtNewPassword, QStringLiteral("abc"));
                type(d->txtVerifyNewPassword, QStringLiteral("abc"));
                QTest::mouseClick(d->cmdOk, Qt::LeftButton);
            })
            .act([] {
                if (frmPassDefine *d = frmPassDefine::Instance())
                    QTest::mouseClick(d->cmdCancel, Qt::LeftButton);
            });
        script.start();
        modSecurityPassword::mnuSecConfig_Click();
        QVERIFY(!script.timedOut());
        QCOMPARE(boxes->texts(), QStringList{QStringLiteral("The password could not be saved!")});
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
        script
            .then([&] {
                if (!defineShown())
                    return false;
                first = frmPassDefine::Instance();
                type(first->txtNewPassword, QStringLiteral("typed"));
                QTimer::singleShot(0, [&] {
                    order << QStringLiteral("inner start");
                    modSecurityPassword::mnuSecConfig_Click();
                    order << QStringLiteral("inner end");
                });
                return true;
            })
            .then([&] { return order.contains(QStringLiteral("inner start")); })
            .act([&] {
                same = frmPassDefine::Instance() == first && first->txtNewPassword->text() == QLatin1String("typed");
                QTest::mouseClick(first->cmdCancel, Qt::LeftButton);
            });
        script.start();
        modSecurityPassword::mnuSecConfig_Click();
        order << QStringLiteral("outer end");
        QVERIFY(same);
        QCOMPARE(order, (QStringList{QStringLiteral("inner start"), QStringLiteral("inner end"), QStringLiteral("outer end")}));
    }

    // While the gate waits, the rest of the program keeps running.
    void gateKeepsEventsFlowing()
    {
        storePassword(QStringLiteral("pw"));
        int ticks = 0;
        QTimer other;
        other.setInterval(5);
        connect(&other, &QTimer::timeout, this, [&] { ++ticks; });
        other.start();
        DialogScript script;
        script.then([&] { return ticks >= 3; }).act([] {
            type(frmEnterPassword::Instance()->txtEnterPassword, QStringLiteral("pw"));
            QTest::mouseClick(frmEnterPassword::Instance()->cmdOk, Qt::LeftButton);
        });
        QVERIFY(gateWith(script));
        QVERIFY(ticks >= 3);
    }
};

QTEST_MAIN(tst_SecurityPassword)
#include "tst_SecurityPassword.moc"
