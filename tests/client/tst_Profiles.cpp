#include "client/Forms.h"
#include "client/frmClient.h"
#include "platform/ErrorNumbers.h"
#include "startup/modGlobClientVar.h"

#include "../support/RecordingSessionControl.h"
#include "../support/TestSupport.h"

#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalBlocker>
#include <QTest>

using namespace modGlobClientVar;

namespace {

struct Profile
{
    QString name, password;
    qint32 resolution;
};

// The error number an operation raises, 0 when it raises none.
template<typename F>
int errorOf(F &&f)
{
    try {
        f();
    } catch (const VbError &e) {
        return e.number();
    }
    return 0;
}

QStringList items(const QComboBox *box)
{
    QStringList l;
    for (int i = 0; i < box->count(); ++i)
        l << box->itemText(i);
    return l;
}

} // namespace

class tst_Profiles : public QObject
{
    Q_OBJECT

    std::unique_ptr<TestSupport::ProgramDir> m_dir;
    frmClient *f = nullptr;

    // The fields as the operator sees them.
    void expectFields(const QString &name, const QString &password, int resolution)
    {
        QCOMPARE(f->txtUserName->text(), name);
        QCOMPARE(f->txtPassword->text(), password);
        QCOMPARE(f->cboResolution->currentIndex(), resolution);
    }

    // The operator picks entry index of the list.
    void pick(int index)
    {
        {
            const QSignalBlocker quiet(f->cboUsername);
            f->cboUsername->setCurrentIndex(index);
        }
        f->cboUsername_Click();
    }

    // A whole series, as the side link delivers it; the list follows the last one.
    void receiveSeries(const QList<Profile> &series)
    {
        for (int i = 0; i < series.size(); ++i)
            f->ReceiveUserProfile(i + 1, series[i].name, series[i].password, series[i].resolution);
        f->ShowUserList();
    }

private slots:
    void initTestCase() { frmClient::TimerIntervalMs = 3600 * 1000; }

    void init()
    {
        RecordingSessionControl::install();
        gUsersConfig.reset();
        gRdpStarted = false;
        gRdpConnected = false;
        m_dir = std::make_unique<TestSupport::ProgramDir>();
        m_dir->write(QStringLiteral("Client.cfg"), {QStringLiteral("[Client]"), QStringLiteral("AutoConnect=0")});
        f = &Forms::LoadClient();
        QVERIFY(f->cboUsername && f->txtUserName);
    }

    void cleanup()
    {
        Forms::UnloadClient();
        Forms::UnloadMsRdpClient();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        f = nullptr;
        gUsersConfig.reset();
        m_dir.reset();
    }

    void seriesOfOne()
    {
        for (QPushButton *b : {f->cmdRemoteDesktop, f->cmdShutDown, f->cmdRestart})
            b->setEnabled(false);
        f->txtUserName->move(f->txtUserName->x() + 7, f->txtUserName->y() + 3);

        f->ReceiveUserProfile(1, QStringLiteral("operator"), QStringLiteral("pw1"), 3);
        expectFields(QStringLiteral("operator"), QStringLiteral("pw1"), 3);
        QVERIFY(gUsersConfig);
        QCOMPARE(gUsersConfig->Count(), 1);

        f->ShowUserList();
        QCOMPARE(items(f->cboUsername), QStringList{QStringLiteral("operator")});
        QCOMPARE(f->cboUsername->currentIndex(), 0);
        QCOMPARE(f->cboUsername->pos(), f->txtUserName->pos());
        QVERIFY(!f->cboUsername->isHidden());
        QVERIFY(f->txtUserName->isHidden());
        for (QPushButton *b : {f->cmdRemoteDesktop, f->cmdShutDown, f->cmdRestart})
            QVERIFY2(b->isEnabled(), qPrintable(b->objectName()));
        expectFields(QStringLiteral("operator"), QStringLiteral("pw1"), 3);
    }

    void seriesOfThree()
    {
        f->cboUsername->addItems({QStringLiteral("old")}); // from an earlier series
        const QList<Profile> series{{"anna", "a-pw", 1}, {"bert", "b-pw", 5}, {"carl", "", 0}};
        for (int i = 0; i < series.size(); ++i) {
            f->ReceiveUserProfile(i + 1, series[i].name, series[i].password, series[i].resolution);
            // Each profile is shown as it arrives; the list waits for the last one.
            expectFields(series[i].name, series[i].password, series[i].resolution);
            QCOMPARE(items(f->cboUsername), QStringList{QStringLiteral("old")});
        }
        f->ShowUserList();
        QCOMPARE(items(f->cboUsername), (QStringList{"anna", "bert", "carl"}));
        expectFields(QStringLiteral("anna"), QStringLiteral("a-pw"), 1);

        pick(2);
        expectFields(QStringLiteral("carl"), QString(), 0);
        pick(1);
        expectFields(QStringLiteral("bert"), QStringLiteral("b-pw"), 5);
    }

    void newSeriesReplacesTheOld()
    {
        receiveSeries({{"anna", "a", 1}, {"bert", "b", 2}, {"carl", "c", 3}});
        f->ReceiveUserProfile(1, QStringLiteral("dora"), QStringLiteral("d"), 4);
        QCOMPARE(gUsersConfig->Count(), 1);
        QCOMPARE(gUsersConfig->Item(1)->Username(), QStringLiteral("dora"));
        // The visible list keeps its old names until the new series is complete.
        QCOMPARE(items(f->cboUsername), (QStringList{"anna", "bert", "carl"}));

        // A position the new collection does not hold yet changes nothing ...
        pick(2);
        expectFields(QStringLiteral("dora"), QStringLiteral("d"), 4);
        // ... one it holds fills the fields from the new profile.
        f->txtUserName->clear();
        pick(0);
        expectFields(QStringLiteral("dora"), QStringLiteral("d"), 4);

        f->ReceiveUserProfile(2, QStringLiteral("emil"), QStringLiteral("e"), 6);
        f->ShowUserList();
        QCOMPARE(items(f->cboUsername), (QStringList{"dora", "emil"}));
        expectFields(QStringLiteral("dora"), QStringLiteral("d"), 4);
    }

    void duplicateNamesDifferingInCase()
    {
        f->ReceiveUserProfile(1, QStringLiteral("Admin"), QStringLiteral("first"), 1);
        // The second is not held; its own display then refers to a position that does not
        // exist, and that error goes to the caller before any field changes.
        QCOMPARE(errorOf([&] { f->ReceiveUserProfile(2, QStringLiteral("ADMIN"), QStringLiteral("second"), 2); }),
                 ErrorNumbers::SubscriptOutOfRange.number);
        QCOMPARE(gUsersConfig->Count(), 1);
        expectFields(QStringLiteral("Admin"), QStringLiteral("first"), 1);

        // A third, different name is held at position 2, so the display of position 3 that
        // its message asks for fails in turn; the fields keep the first profile.
        QCOMPARE(errorOf([&] { f->ReceiveUserProfile(3, QStringLiteral("guest"), QStringLiteral("g"), 2); }),
                 ErrorNumbers::SubscriptOutOfRange.number);
        QCOMPARE(gUsersConfig->Count(), 2);
        QCOMPARE(gUsersConfig->Item(2)->Username(), QStringLiteral("guest"));
        expectFields(QStringLiteral("Admin"), QStringLiteral("first"), 1);
        f->ShowUserList();
        QCOMPARE(items(f->cboUsername), (QStringList{"Admin", "guest"}));
    }

    void resolutionOutsideTheList_data()
    {
        QTest::addColumn<qint32>("resolution");
        QTest::addColumn<int>("error");
        QTest::addColumn<int>("shown"); // the selection after ShowUserConfig, from 4
        QTest::newRow("0") << 0 << 0 << 0;
        QTest::newRow("6, the last") << 6 << 0 << 6;
        QTest::newRow("7") << 7 << ErrorNumbers::InvalidPropertyValue.number << 4;
        QTest::newRow("9") << 9 << ErrorNumbers::InvalidPropertyValue.number << 4;
        QTest::newRow("-2") << -2 << ErrorNumbers::InvalidPropertyValue.number << 4;
        QTest::newRow("-1, no selection") << -1 << 0 << -1;
    }

    void resolutionOutsideTheList()
    {
        QFETCH(qint32, resolution);
        QFETCH(int, error);
        QFETCH(int, shown);
        f->cboResolution->setCurrentIndex(4);
        QCOMPARE(errorOf([&] { f->ReceiveUserProfile(1, QStringLiteral("op"), QStringLiteral("pw"), resolution); }),
                 error);
        // User name and password are set by the time the resolution fails.
        expectFields(QStringLiteral("op"), QStringLiteral("pw"), shown);

        // Picked from the list: name and password filled, a resolution outside the list
        // leaves the selection as it was.
        f->ShowUserList();
        f->cboResolution->setCurrentIndex(2);
        f->txtUserName->setText(QStringLiteral("typed"));
        f->txtPassword->setText(QStringLiteral("typed"));
        pick(0);
        expectFields(QStringLiteral("op"), QStringLiteral("pw"), error ? 2 : shown);
    }

    void showUserConfigMissingPositionChangesNothing_data()
    {
        QTest::addColumn<bool>("withList");
        QTest::addColumn<qint32>("index");
        QTest::newRow("no collection yet") << false << 1;
        QTest::newRow("position 0") << true << 0;
        QTest::newRow("position past the end") << true << 2;
    }

    void showUserConfigMissingPositionChangesNothing()
    {
        QFETCH(bool, withList);
        QFETCH(qint32, index);
        if (withList)
            f->ReceiveUserProfile(1, QStringLiteral("op"), QStringLiteral("pw"), 3);
        f->txtUserName->setText(QStringLiteral("before"));
        f->txtPassword->setText(QStringLiteral("before-pw"));
        f->cboResolution->setCurrentIndex(5);
        QVERIFY(errorOf([&] { f->ShowUserConfig(index); }) != 0);
        expectFields(QStringLiteral("before"), QStringLiteral("before-pw"), 5);
    }

    void seriesWhoseStartWasNotSeen()
    {
        // No collection yet and the series starts at 2: the profile is held, and the
        // display of position 2 fails as a missing position, without a crash.
        QVERIFY(!gUsersConfig);
        QCOMPARE(errorOf([&] { f->ReceiveUserProfile(2, QStringLiteral("late"), QStringLiteral("x"), 1); }),
                 ErrorNumbers::SubscriptOutOfRange.number);
        QVERIFY(gUsersConfig);
        QCOMPARE(gUsersConfig->Count(), 1);
    }

    void clickWithoutSelectionChangesNothing()
    {
        // An empty list.
        f->txtUserName->setText(QStringLiteral("before"));
        f->cboUsername_Click();
        QCOMPARE(f->txtUserName->text(), QStringLiteral("before"));

        // A list without a selection.
        receiveSeries({{"anna", "a", 1}});
        f->txtUserName->setText(QStringLiteral("before"));
        pick(-1);
        QCOMPARE(f->txtUserName->text(), QStringLiteral("before"));

        // Entries but no collection.
        gUsersConfig.reset();
        pick(0);
        QCOMPARE(f->txtUserName->text(), QStringLiteral("before"));
    }

    void keyPressDiscardsEveryCharacter_data()
    {
        QTest::addColumn<int>("key");
        QTest::newRow("letter") << int('b');
        QTest::newRow("digit") << int('7');
        QTest::newRow("backspace") << 8;
        QTest::newRow("latin-1") << 0xE4;
    }

    void keyPressDiscardsEveryCharacter()
    {
        QFETCH(int, key);
        int KeyAscii = key;
        f->cboUsername_KeyPress(KeyAscii);
        QCOMPARE(KeyAscii, 0);
    }

    void typingIntoTheListChangesNothing()
    {
        receiveSeries({{"anna", "a", 1}, {"bert", "b", 2}, {"carl", "c", 3}});
        f->show();
        // Without the handler a list would jump to the entry typed ("b" to "bert").
        QTest::keyClicks(f->cboUsername, QStringLiteral("bc"));
        QCOMPARE(f->cboUsername->currentIndex(), 0);
        QCOMPARE(items(f->cboUsername), (QStringList{"anna", "bert", "carl"}));
        expectFields(QStringLiteral("anna"), QStringLiteral("a"), 1);
    }

    void rdpState_data()
    {
        QTest::addColumn<bool>("started");
        QTest::addColumn<bool>("connected");
        QTest::addColumn<qint32>("state");
        QTest::newRow("none") << false << false << 0;
        QTest::newRow("connected flag without a start") << false << true << 0;
        QTest::newRow("started") << true << false << 1;
        QTest::newRow("connected") << true << true << 3;
    }

    void rdpState()
    {
        QFETCH(bool, started);
        QFETCH(bool, connected);
        gRdpStarted = started;
        gRdpConnected = connected;
        SocketCmd command{3, 99};
        f->GetRdpState(command);
        QTEST(command.Argument, "state");
        QCOMPARE(command.Cmd, 3);
    }
};

QTEST_MAIN(tst_Profiles)
#include "tst_Profiles.moc"
