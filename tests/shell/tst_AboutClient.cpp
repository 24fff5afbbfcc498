#include "Version.h"
#include "shell/frmAboutClient.h"
#include "system/modSystemBasic.h"

#include <QApplication>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QTest>

class tst_AboutClient : public QObject
{
    Q_OBJECT

private slots:
    void cleanup()
    {
        if (frmAboutClient *box = frmAboutClient::Instance())
            box->close();
        QTRY_VERIFY(QApplication::topLevelWidgets().isEmpty());
    }

    void versionText_data()
    {
        QTest::addColumn<int>("major");
        QTest::addColumn<int>("minor");
        QTest::addColumn<QString>("text");
        QTest::newRow("1.20") << 1 << 20 << "01.20";
        QTest::newRow("minor padded") << 1 << 5 << "01.05";
        QTest::newRow("zeros") << 0 << 0 << "00.00";
        QTest::newRow("two digits") << 12 << 34 << "12.34";
        QTest::newRow("three-digit major") << 100 << 20 << "100.20";
        QTest::newRow("three-digit minor") << 1 << 123 << "01.123";
    }
    void versionText()
    {
        QFETCH(int, major);
        QFETCH(int, minor);
        QFETCH(QString, text);
        QCOMPARE(frmAboutClient::VersionText(major, minor), text);
    }

    void buildText_data()
    {
        QTest::addColumn<int>("revision");
        QTest::addColumn<QString>("text");
        QTest::newRow("18") << 18 << "18";
        QTest::newRow("single digit, no zero") << 7 << "7";
        QTest::newRow("zero") << 0 << "0";
        QTest::newRow("large") << 1234 << "1234";
    }
    void buildText()
    {
        QFETCH(int, revision);
        QFETCH(QString, text);
        QCOMPARE(frmAboutClient::BuildText(revision), text);
    }

    // The program's own version, from the one place it is set.
    void showsTheProgramVersion()
    {
        QCOMPARE(QString::fromLatin1(Version::Text), QStringLiteral("1.20.18"));
        frmAboutClient &box = frmAboutClient::ShowBox();
        QCOMPARE(box.lblVersion->text(), QStringLiteral("01.20"));
        QCOMPARE(box.lblBuild->text(), QStringLiteral("18"));
    }

    void layout()
    {
        QCOMPARE(modSystemBasic::TwipsPerPixelX(), 15);
        frmAboutClient &box = frmAboutClient::ShowBox();
        QCOMPARE(box.windowTitle(), QStringLiteral("About Torvane Remote Desktop Client"));
        QCOMPARE(box.size(), QSize(312, 131));
        QCOMPARE(box.minimumSize(), box.maximumSize());
        QVERIFY(!(box.windowFlags() & Qt::WindowMinimizeButtonHint));
        QVERIFY(!(box.windowFlags() & Qt::WindowMaximizeButtonHint));
        QVERIFY(!box.isModal());
        QVERIFY(!box.parentWidget());
        QCOMPARE(box.Picture1->geometry(), QRect(16, 16, 48, 48));
        QVERIFY(!box.Picture1->pixmap().isNull());
        QCOMPARE(box.Label1->text(), QStringLiteral("Torvane Remote Desktop Client"));
        QCOMPARE(box.Label1->pos(), QPoint(88, 16));
        QVERIFY(box.Label1->width() >= 161);
        QCOMPARE(box.Label2->text(), QStringLiteral("Version:"));
        // Captions keep their place; they are never narrower than drawn.
        QCOMPARE(box.Label2->pos(), QPoint(88, 40));
        QVERIFY(box.Label2->width() >= 41);
        QCOMPARE(box.Label2->height(), 22);
        QCOMPARE(box.lblVersion->geometry(), QRect(128, 40, 33, 22));
        QCOMPARE(box.Label3->text(), QStringLiteral("Build:"));
        QCOMPARE(box.Label3->pos(), QPoint(168, 40));
        QVERIFY(box.Label3->width() >= 25);
        QVERIFY(box.Label3->width() >= box.Label3->sizeHint().width());
        QCOMPARE(box.lblBuild->geometry(), QRect(200, 40, 33, 22));
        QCOMPARE(box.cmdOk->text(), QStringLiteral("&OK"));
        QCOMPARE(box.cmdOk->geometry(), QRect(112, 96, 81, 25));
        QVERIFY(box.cmdOk->isDefault());
        QVERIFY(QTest::qWaitForWindowActive(&box));
        QTRY_COMPARE(box.focusWidget(), static_cast<QWidget *>(box.cmdOk));
    }

    void oneBoxAtATime()
    {
        QPointer<frmAboutClient> first = &frmAboutClient::ShowBox();
        first->lblBuild->setText(QStringLiteral("marker"));
        frmAboutClient &second = frmAboutClient::ShowBox();
        QCOMPARE(&second, first.data());
        // Shown again, not loaded again.
        QCOMPARE(second.lblBuild->text(), QStringLiteral("marker"));
        int boxes = 0;
        for (QWidget *w : QApplication::topLevelWidgets())
            boxes += qobject_cast<frmAboutClient *>(w) != nullptr;
        QCOMPARE(boxes, 1);
    }

    void closing_data()
    {
        QTest::addColumn<QString>("how");
        QTest::newRow("OK button") << "ok";
        QTest::newRow("Enter") << "enter";
        QTest::newRow("close box") << "close";
        QTest::newRow("Esc") << "escape";
    }
    void closing()
    {
        QFETCH(QString, how);
        QPointer<frmAboutClient> box = &frmAboutClient::ShowBox();
        QVERIFY(QTest::qWaitForWindowActive(box.data()));
        if (how == QLatin1String("ok"))
            QTest::mouseClick(box->cmdOk, Qt::LeftButton);
        else if (how == QLatin1String("enter"))
            QTest::keyClick(box.data(), Qt::Key_Return);
        else if (how == QLatin1String("close"))
            box->close();
        else
            QTest::keyClick(box.data(), Qt::Key_Escape);
        QVERIFY(!frmAboutClient::Instance());
        QTRY_VERIFY(box.isNull());
        // The next About command makes a fresh box.
        frmAboutClient &fresh = frmAboutClient::ShowBox();
        QVERIFY(fresh.isVisible());
        QCOMPARE(fresh.lblVersion->text(), QStringLiteral("01.20"));
    }
};

QTEST_MAIN(tst_AboutClient)
#include "tst_AboutClient.moc"
