#include "client/Forms.h"
#include "client/frmClient.h"
#include "platform/ErrorNumbers.h"
#include "settings/modGlobClientVar.h"

#include "../support/Panel.h"
#include "../support/RecordingSessionControl.h"

#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalBlocker>
#include <QTest>

using namespace modGlobClientVar;
using TestSupport::errorOf;

namespace {

QStringList items(const QComboBox *box)
{
    QStringList l;
    for (int i = 0; i < box->count(); ++i)
        l << box->itemText(i);
    return l;
}

constexpr int kSubscript = ErrorNumbers::SubscriptOutOfRange.number;

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

private slots:
    void initTestCase() { frmClient::TimerIntervalMs = 3600 * 1000; }

    void init()
    {
        RecordingSessionControl::install();
        gUsersConfig.reset();
        m_dir = std::make_unique<TestSupport::ProgramDir>();
        f = &TestSupport::LoadPanel(*m_dir, {"AutoConnect=0"});
    }

    void cleanup()
    {
        TestSupport::UnloadForms();
        f = nullptr;
        gUsersConfig.reset();
        m_dir.reset();
    }

    void seriesOfOne()
    {
        const QList<QPushButton *> buttons{f->cmdRemoteDesktop, f->cmdShutDown, f->cmdRestart};
        for (QPushButton *b : buttons)
            b->setEnabled(false);
        f->txtUserName->move(f->txtUserName->x() + 7, f->txtUserName->y() + 3);

        TestSupport::ReceiveSeries(*f, {{"operator", "pw1", 3}});
        QCOMPARE(gUsersConfig->Count(), 1);
        QCOMPARE(items(f->cboUsername), QStringList{QStringLiteral("operator")});
        QCOMPARE(f->cboUsername->currentIndex(), 0);
        QCOMPARE(f->cboUsername->pos(), f->txtUserName->pos());
        QVERIFY(!f->cboUsername->isHidden());
        QVERIFY(f->txtUserName->isHidden());
        for (QPushButton *b : buttons)
            QVERIFY2(b->isEnabled(), qPrintable(b->objectName()));
        expectFields(QStringLiteral("operator"), QStringLiteral("pw1"), 3);
    }

    void seriesOfThree()
    {
        f->cboUsername->addItems({QStringLiteral("old")}); // from an earlier series
        const QList<TestSupport::Profile> series{{"anna", "a-pw", 1}, {"bert", "b-pw", 5}, {"carl", "", 0}};
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
        TestSupport::ReceiveSeries(*f, {{"anna", "a", 1}, {"bert", "b", 2}, {"carl", "c", 3}});
        f->ReceiveUserProfile(1, QStringLiteral("dora"), QStringLiteral("d"), 4);
        QCOMPARE(gUsersConfig->Count(), 1);
        // The visible list keeps its old names until the new series is complete; a position
        // the new collection does not hold yet changes nothing, one it holds fills the fields.
        QCOMPARE(items(f->cboUsername), (QStringList{"anna", "bert", "carl"}));
        pick(2);
        expectFields(QStringLiteral("dora"), QStringLiteral("d"), 4);
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
        // The second is not held; its display then asks for a position that does not exist,
        // and that error goes to the caller before any field changes.
        QCOMPARE(errorOf([&] { f->ReceiveUserProfile(2, QStringLiteral("ADMIN"), QStringLiteral("second"), 2); }),
                 kSubscript);
        QCOMPARE(gUsersConfig->Count(), 1);
        expectFields(QStringLiteral("Admin"), QStringLiteral("first"), 1);
        // A third, different name is held at position 2, so showing position 3 fails in turn.
        QCOMPARE(errorOf([&] { f->ReceiveUserProfile(3, QStringLiteral("guest"), QStringLiteral("g"), 2); }),
                 kSubscript);
        expectFields(QStringLiteral("Admin"), QStringLiteral("first"), 1);
        f->ShowUserList();
        QCOMPARE(items(f->cboUsername), (QStringList{"Admin", "guest"}));
    }

    void resolutionOutsideTheList_data()
    {
        QTest::addColumn<qint32>("resolution");
        QTest::addColumn<int>("error");
        QTest::addColumn<int>("shown"); // the selection after ShowUserConfig, from 4
        QTest::newRow("6, the last") << 6 << 0 << 6;
        QTest::newRow("7") << 7 << ErrorNumbers::InvalidPropertyValue.number << 4;
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

        // Picked from the list: a resolution outside the list leaves the selection as it was.
        f->ShowUserList();
        f->cboResolution->setCurrentIndex(2);
        f->txtUserName->setText(QStringLiteral("typed"));
        f->txtPassword->setText(QStringLiteral("typed"));
        pick(0);
        expectFields(QStringLiteral("op"), QStringLiteral("pw"), error ? 2 : shown);
    }

    void missingPositionChangesNothing()
    {
        f->txtUserName->setText(QStringLiteral("before"));
        f->txtPassword->setText(QStringLiteral("before-pw"));
        f->cboResolution->setCurrentIndex(5);
        for (qint32 index : {1, 0, 2}) {
            if (index == 0) {
                // A series whose start was not seen: the profile is held, its display fails.
                QCOMPARE(errorOf([&] { f->ReceiveUserProfile(2, QStringLiteral("late"), QStringLiteral("x"), 1); }),
                         kSubscript);
                QCOMPARE(gUsersConfig->Count(), 1);
            }
            QVERIFY(errorOf([&] { f->ShowUserConfig(index); }) != 0); // no collection, position 0, past the end
        }
        f->cboUsername_Click(); // an empty list
        expectFields(QStringLiteral("before"), QStringLiteral("before-pw"), 5);
        f->ShowUserList();
        f->txtUserName->setText(QStringLiteral("before"));
        pick(-1); // a list without a selection
        gUsersConfig.reset();
        pick(0); // entries but no collection
        QCOMPARE(f->txtUserName->text(), QStringLiteral("before"));
    }

    void typingIntoTheListChangesNothing()
    {
        TestSupport::ReceiveSeries(*f, {{"anna", "a", 1}, {"bert", "b", 2}, {"carl", "c", 3}});
        f->show();
        // Without the handler a list would jump to the entry typed ("b" to "bert").
        QTest::keyClicks(f->cboUsername, QStringLiteral("bc"));
        QCOMPARE(f->cboUsername->currentIndex(), 0);
        QCOMPARE(items(f->cboUsername), (QStringList{"anna", "bert", "carl"}));
        expectFields(QStringLiteral("anna"), QStringLiteral("a"), 1);
    }
};

QTEST_MAIN(tst_Profiles)
#include "tst_Profiles.moc"
