#include "platform/ErrorNumbers.h"
#include "settings/clsUsersConfig.h"

#include <QTest>

namespace {

clsUsersConfig::Profile profile(const QString &name)
{
    auto p = std::make_shared<clsUserConfig>();
    p->setUsername(name);
    return p;
}

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
    void freshCollectionIsEmpty()
    {
        clsUsersConfig c;
        QCOMPARE(c.Count(), 0);
        QVERIFY(names(c).isEmpty());
        QCOMPARE(errorOf([&] { c.Item(1); }), ErrorNumbers::SubscriptOutOfRange.number);
        QCOMPARE(errorOf([&] { c.Item(QStringLiteral("anyone")); }), ErrorNumbers::InvalidCall.number);
    }

    void insertionOrderAndPositionsFromOne()
    {
        clsUsersConfig c;
        const auto z = profile(QStringLiteral("zoe")), a = profile(QStringLiteral("anna"));
        QCOMPARE(c.Add(z, QStringLiteral("zoe")), z);
        QCOMPARE(c.Add(a, QStringLiteral("anna")), a);
        QCOMPARE(c.Count(), 2);
        QCOMPARE(c.Item(1), z); // not sorted by key
        QCOMPARE(c.Item(2.0), a);
        QCOMPARE(names(c), (QStringList{"zoe", "anna"}));
    }

    void duplicateKeyInAnyCaseIsNotInserted_data()
    {
        QTest::addColumn<QString>("second");
        QTest::newRow("upper") << "ADMIN";
        QTest::newRow("mixed") << "aDmIn";
        QTest::newRow("same") << "Admin";
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

    void lookupByKeyIsNotByPosition()
    {
        auto c = collection({QStringLiteral("a"), QStringLiteral("1")});
        QCOMPARE(c->Item(QStringLiteral("1"))->Username(), QStringLiteral("1"));
        QCOMPARE(c->Item(1)->Username(), QStringLiteral("a"));
        QCOMPARE(errorOf([&] { c->Item(QStringLiteral("2")); }), ErrorNumbers::InvalidCall.number);
    }

    void missingEntries_data()
    {
        QTest::addColumn<QVariant>("index");
        QTest::addColumn<int>("error");
        QTest::newRow("position 0") << QVariant(0) << ErrorNumbers::SubscriptOutOfRange.number;
        QTest::newRow("position -1") << QVariant(-1) << ErrorNumbers::SubscriptOutOfRange.number;
        QTest::newRow("past the end") << QVariant(3) << ErrorNumbers::SubscriptOutOfRange.number;
        QTest::newRow("beyond 32 bits") << QVariant(qint64(1) << 33) << ErrorNumbers::Overflow.number;
        QTest::newRow("missing key") << QVariant(QStringLiteral("c")) << ErrorNumbers::InvalidCall.number;
        QTest::newRow("no value") << QVariant() << ErrorNumbers::TypeMismatch.number;
    }

    void missingEntries()
    {
        QFETCH(QVariant, index);
        QFETCH(int, error);
        auto c = collection({QStringLiteral("a"), QStringLiteral("b")});
        QCOMPARE(errorOf([&] { c->Item(index); }), error);
        QCOMPARE(errorOf([&] { c->Remove(index); }), error);
        QCOMPARE(names(*c), (QStringList{"a", "b"}));
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
