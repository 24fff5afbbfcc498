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

    void versionTexts_data()
    {
        QTest::addColumn<int>("major");
        QTest::addColumn<int>("minor");
        QTest::addColumn<int>("revision");
        QTest::addColumn<QString>("version");
        QTest::addColumn<QString>("build");
        QTest::newRow("1.20.18") << 1 << 20 << 18 << "01.20" << "18";
        QTest::newRow("padded, build not") << 1 << 5 << 7 << "01.05" << "7";
        QTest::newRow("three digits") << 100 << 123 << 0 << "100.123" << "0";
    }
    void versionTexts()
    {
        QFETCH(int, major);
        QFETCH(int, minor);
        QFETCH(int, revision);
        QFETCH(QString, version);
        QFETCH(QString, build);
        QCOMPARE(frmAboutClient::VersionText(major, minor), version);
        QCOMPARE(frmAboutClient::BuildText(revision), build);
    }

    void layoutAndProgramVersion()
    {
        QCOMPARE(modSystemBasic::TwipsPerPixelX(), 15);
        frmAboutClient &box = frmAboutClient::ShowBox();
        QCOMPARE(box.lblVersion->text(), QStringLiteral("01.20"));
        QCOMPARE(box.lblBuild->text(), QStringLiteral("18"));
        QCOMPARE(box.windowTitle(), QStringLiteral("About Torvane Remote Desktop Client"));
        QCOMPARE(box.size(), QSize(312, 131));
        QCOMPARE(box.minimumSize(), box.maximumSize());
        QVERIFY(!(box.windowFlags() & (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint)));
        QVERIFY(!box.isModal());
        QVERIFY(!box.parentWidget());
        QVERIFY(!box.Picture1->pixmap().isNull());
        QCOMPARE(box.Label1->text(), QStringLiteral("Torvane Remote Desktop Client"));
        QCOMPARE(box.lblVersion->geometry(), QRect(128, 40, 33, 22));
        // Captions are never narrower than drawn.
        for (auto [label, width] : {std::pair{box.Label1, 161}, {box.Label2, 41}, {box.Label3, 25}})
            QVERIFY(label->width() >= qMax(width, label->sizeHint().width()));
        QVERIFY(box.cmdOk->isDefault());
        QVERIFY(QTest::qWaitForWindowActive(&box));
        QTRY_COMPARE(box.focusWidget(), static_cast<QWidget *>(box.cmdOk));
    }

    // Shown again, not loaded again.
    void oneBoxAtATime()
    {
        QPointer<frmAboutClient> first = &frmAboutClient::ShowBox();
        first->lblBuild->setText(QStringLiteral("marker"));
        frmAboutClient &second = frmAboutClient::ShowBox();
        QCOMPARE(&second, first.data());
        QCOMPARE(second.lblBuild->text(), QStringLiteral("marker"));
        QCOMPARE(QApplication::topLevelWidgets().size(), 1);
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
        else if (how == QLatin1String("close"))
            box->close();
        else
            QTest::keyClick(box.data(), how == QLatin1String("enter") ? Qt::Key_Return : Qt::Key_Escape);
        QVERIFY(!frmAboutClient::Instance());
        QTRY_VERIFY(box.isNull());
        QCOMPARE(frmAboutClient::ShowBox().lblVersion->text(), QStringLiteral("01.20"));
    }
};

QTEST_MAIN(tst_AboutClient)
#include "tst_AboutClient.moc"
