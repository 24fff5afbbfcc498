#include "platform/ErrorNumbers.h"
#include "settings/clsUsersConfig.h"

#include "../support/TestSupport.h"

#include <QTest>

using TestSupport::errorOf;

namespace {

clsUsersConfig::Profile profile(const QString &name)
{
    auto p = std::make_shared<clsUserConfig>();
    p->setUsername(name);
    return p;
}

QStringList names(const clsUsersConfig &c)
{
    QStringList n;
    for (const auto &p : c)
        n << p->Username();
    return n;
}

// A collection holding the given names under their own keys, in this order.
std::unique_ptr<clsUsersConfig> collection(const QStringList &keys)
{
    auto c = std::make_unique<clsUsersConfig>();
    for (const QString &k : keys)
        c->Add(profile(k), k);
    return c;
}

} // namespace

class tst_clsUsersConfig : public QObject
{
    Q_OBJECT

private slots:
    void orderPositionsAndKeys()
    {
        auto c = collection({QStringLiteral("zoe"), QStringLiteral("1")});
        QCOMPARE(names(*c), (QStringList{"zoe", "1"})); // not sorted by key
        QCOMPARE(c->Item(2.0)->Username(), QStringLiteral("1"));
        // A key that looks like a number is a key, not a position.
        QCOMPARE(c->Item(QStringLiteral("1"))->Username(), QStringLiteral("1"));
        QCOMPARE(errorOf([&] { c->Item(QStringLiteral("2")); }), ErrorNumbers::InvalidCall.number);
    }

    void duplicateKeyInAnyCaseIsNotInserted_data()
    {
        QTest::addColumn<QString>("second");
        QTest::newRow("upper") << "ADMIN";
        QTest::newRow("mixed") << "aDmIn";
    }

    void duplicateKeyInAnyCaseIsNotInserted()
    {
        QFETCH(QString, second);
        clsUsersConfig c;
        const auto first = profile(QStringLiteral("Admin"));
        const auto other = profile(second);
        c.Add(first, QStringLiteral("Admin"));
        // Handed back all the same, and nothing reported.
        QCOMPARE(c.Add(other, second), other);
        QCOMPARE(c.Count(), 1);
        QCOMPARE(c.Item(second), first);
        QCOMPARE(c.Item(QStringLiteral("admin")), first);
    }

    void missingEntries_data()
    {
        QTest::addColumn<QStringList>("keys");
        QTest::addColumn<QVariant>("index");
        QTest::addColumn<int>("error");
        const QStringList ab{"a", "b"};
        QTest::newRow("empty collection") << QStringList() << QVariant(1) << ErrorNumbers::SubscriptOutOfRange.number;
        QTest::newRow("position 0") << ab << QVariant(0) << ErrorNumbers::SubscriptOutOfRange.number;
        QTest::newRow("position -1") << ab << QVariant(-1) << ErrorNumbers::SubscriptOutOfRange.number;
        QTest::newRow("past the end") << ab << QVariant(3) << ErrorNumbers::SubscriptOutOfRange.number;
        QTest::newRow("beyond 32 bits") << ab << QVariant(qint64(1) << 33) << ErrorNumbers::Overflow.number;
        QTest::newRow("missing key") << ab << QVariant(QStringLiteral("c")) << ErrorNumbers::InvalidCall.number;
        QTest::newRow("no value") << ab << QVariant() << ErrorNumbers::TypeMismatch.number;
    }

    void missingEntries()
    {
        QFETCH(QStringList, keys);
        QFETCH(QVariant, index);
        QFETCH(int, error);
        auto c = collection(keys);
        QCOMPARE(errorOf([&] { c->Item(index); }), error);
        QCOMPARE(errorOf([&] { c->Remove(index); }), error);
        QCOMPARE(names(*c), keys);
    }

    void removeByPositionOrKey()
    {
        auto c = collection({QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("c"), QStringLiteral("d")});
        c->Remove(2);
        QCOMPARE(c->Item(2)->Username(), QStringLiteral("c")); // the rest moves up
        c->Remove(QStringLiteral("D"));
        QCOMPARE(names(*c), (QStringList{"a", "c"}));
        // A removed key is free again and goes to the end.
        c->Add(profile(QStringLiteral("B")), QStringLiteral("B"));
        QCOMPARE(names(*c), (QStringList{"a", "c", "B"}));
    }
};

QTEST_GUILESS_MAIN(tst_clsUsersConfig)
#include "tst_clsUsersConfig.moc"
