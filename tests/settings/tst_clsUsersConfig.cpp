// The user profiles: keyed without regard to case, in insertion order, positions from 1.
#include "platform/ErrorNumbers.h"
#include "settings/clsUsersConfig.h"

#include "TestSupport.h"

using TestSupport::errorOf;

namespace {

clsUsersConfig collection(const QStringList &keys)
{
    clsUsersConfig c;
    for (const QString &k : keys) {
        auto p = std::make_shared<clsUserConfig>();
        p->setUsername(k);
        c.Add(p, k);
    }
    return c;
}

QStringList names(const clsUsersConfig &c)
{
    QStringList n;
    for (const auto &p : c)
        n << p->Username();
    return n;
}

} // namespace

class tst_clsUsersConfig : public QObject
{
    Q_OBJECT

private slots:
    void orderKeysAndDuplicates()
    {
        clsUsersConfig c = collection({"zoe", "1", "Admin", "aDmIn"});
        QCOMPARE(names(c), (QStringList{"zoe", "1", "Admin"})); // not sorted, the second Admin not held
        QCOMPARE(c.Item(2.0)->Username(), QStringLiteral("1"));
        // A key that looks like a number is a key, not a position.
        QCOMPARE(c.Item(QStringLiteral("1"))->Username(), QStringLiteral("1"));
        QCOMPARE(c.Item(QStringLiteral("ADMIN"))->Username(), QStringLiteral("Admin"));
        // Add hands the profile back all the same.
        auto other = std::make_shared<clsUserConfig>();
        QCOMPARE(c.Add(other, QStringLiteral("ZOE")), other);
        QCOMPARE(c.Count(), 3);
    }

    void missingEntries_data()
    {
        QTest::addColumn<QStringList>("keys");
        QTest::addColumn<QVariant>("index");
        QTest::addColumn<int>("error");
        const QStringList ab{"a", "b"};
        QTest::newRow("empty collection") << QStringList() << QVariant(1) << ErrorNumbers::SubscriptOutOfRange.number;
        QTest::newRow("position 0") << ab << QVariant(0) << ErrorNumbers::SubscriptOutOfRange.number;
        QTest::newRow("past the end") << ab << QVariant(3) << ErrorNumbers::SubscriptOutOfRange.number;
        QTest::newRow("beyond 32 bits") << ab << QVariant(qint64(1) << 33) << ErrorNumbers::Overflow.number;
        QTest::newRow("missing key") << ab << QVariant(QStringLiteral("c")) << ErrorNumbers::InvalidCall.number;
        QTest::newRow("no value") << ab << QVariant() << ErrorNumbers::TypeMismatch.number;
    }
    void missingEntries()
    {
        QFETCH(QStringList, keys);
        QFETCH(QVariant, index);
        const clsUsersConfig c = collection(keys);
        QTEST(errorOf([&] { c.Item(index); }), "error");
    }
};

QTEST_GUILESS_MAIN(tst_clsUsersConfig)
#include "tst_clsUsersConfig.moc"
