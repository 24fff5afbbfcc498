#include "platform/ErrorNumbers.h"
#include "settings/clsUsersConfig.h"

#include <QTest>

namespace {

clsUsersConfig::Profile profile(const QString &name, const QString &password = {}, qint32 resolution = 0)
{
    auto p = std::make_shared<clsUserConfig>();
    p->setUsername(name);
    p->setPassword(password);
    p->setResolution(resolution);
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

} // namespace

class tst_clsUsersConfig : public QObject
{
    Q_OBJECT

private slots:
    void newProfileHasEmptyValues()
    {
        clsUserConfig p;
        QCOMPARE(p.Username(), QString());
        QCOMPARE(p.Password(), QString());
        QCOMPARE(p.Resolution(), 0);
        // Nothing is validated: any value is stored as given.
        p.setResolution(-7);
        p.setUsername(QStringLiteral("  x "));
        QCOMPARE(p.Resolution(), -7);
        QCOMPARE(p.Username(), QStringLiteral("  x "));
    }

    void freshCollectionIsEmpty()
    {
        clsUsersConfig c;
        QCOMPARE(c.Count(), 0);
        QVERIFY(!(c.begin() != c.end()));
        QCOMPARE(errorOf([&] { c.Item(1); }), ErrorNumbers::SubscriptOutOfRange.number);
        QCOMPARE(errorOf([&] { c.Item(QStringLiteral("anyone")); }), ErrorNumbers::InvalidCall.number);
        QCOMPARE(errorOf([&] { c.Remove(1); }), ErrorNumbers::SubscriptOutOfRange.number);
    }

    void addKeepsInsertionOrderWithPositionsFromOne()
    {
        clsUsersConfig c;
        const auto a = profile(QStringLiteral("anna")), b = profile(QStringLiteral("bert")),
                   z = profile(QStringLiteral("zoe"));
        QCOMPARE(c.Add(z, z->Username()), z);
        QCOMPARE(c.Add(a, a->Username()), a);
        QCOMPARE(c.Add(b, b->Username()), b);
        QCOMPARE(c.Count(), 3);
        // Insertion order, not sorted by key.
        QCOMPARE(c.Item(1), z);
        QCOMPARE(c.Item(2), a);
        QCOMPARE(c.Item(3), b);
        QCOMPARE(names(c), (QStringList{"zoe", "anna", "bert"}));
    }

    void positionsOutsideTheCollection_data()
    {
        QTest::addColumn<QVariant>("index");
        QTest::newRow("0") << QVariant(0);
        QTest::newRow("-1") << QVariant(-1);
        QTest::newRow("count+1") << QVariant(3);
        QTest::newRow("large") << QVariant(qint64(1) << 33);
    }

    void positionsOutsideTheCollection()
    {
        QFETCH(QVariant, index);
        clsUsersConfig c;
        c.Add(profile(QStringLiteral("a")), QStringLiteral("a"));
        c.Add(profile(QStringLiteral("b")), QStringLiteral("b"));
        QVERIFY(errorOf([&] { c.Item(index); }) != 0);
        QVERIFY(errorOf([&] { c.Remove(index); }) != 0);
        QCOMPARE(c.Count(), 2);
    }

    void numericPositionTypes_data()
    {
        QTest::addColumn<QVariant>("index");
        QTest::addColumn<QString>("expected");
        QTest::newRow("int") << QVariant(2) << "b";
        QTest::newRow("long long") << QVariant(qlonglong(1)) << "a";
        QTest::newRow("double") << QVariant(2.0) << "b";
        QTest::newRow("short") << QVariant::fromValue(short(1)) << "a";
    }

    void numericPositionTypes()
    {
        QFETCH(QVariant, index);
        QFETCH(QString, expected);
        clsUsersConfig c;
        c.Add(profile(QStringLiteral("a")), QStringLiteral("a"));
        c.Add(profile(QStringLiteral("b")), QStringLiteral("b"));
        QCOMPARE(c.Item(index)->Username(), expected);
    }

    void keysAreCaseInsensitive_data()
    {
        QTest::addColumn<QString>("lookup");
        QTest::newRow("same") << "Operator";
        QTest::newRow("lower") << "operator";
        QTest::newRow("upper") << "OPERATOR";
        QTest::newRow("mixed") << "oPeRaToR";
    }

    void keysAreCaseInsensitive()
    {
        QFETCH(QString, lookup);
        clsUsersConfig c;
        const auto p = profile(QStringLiteral("Operator"), QStringLiteral("pw"), 3);
        c.Add(profile(QStringLiteral("first")), QStringLiteral("first"));
        c.Add(p, p->Username());
        QCOMPARE(c.Item(lookup), p);
    }

    void duplicateKeyDifferingInCaseIsNotInserted()
    {
        clsUsersConfig c;
        const auto first = profile(QStringLiteral("Admin"), QStringLiteral("one"), 1);
        const auto second = profile(QStringLiteral("ADMIN"), QStringLiteral("two"), 2);
        c.Add(first, first->Username());
        // The object is handed back all the same, and nothing is reported.
        QCOMPARE(c.Add(second, second->Username()), second);
        QCOMPARE(c.Count(), 1);
        QCOMPARE(c.Item(QStringLiteral("admin")), first);
        QCOMPARE(c.Item(1)->Password(), QStringLiteral("one"));
        QCOMPARE(errorOf([&] { c.Item(2); }), ErrorNumbers::SubscriptOutOfRange.number);
    }

    void nonAsciiKeysCompareWithoutCase()
    {
        clsUsersConfig c;
        c.Add(profile(QStringLiteral("Jürgen")), QStringLiteral("Jürgen"));
        c.Add(profile(QStringLiteral("JÜRGEN")), QStringLiteral("JÜRGEN"));
        QCOMPARE(c.Count(), 1);
        QCOMPARE(c.Item(QStringLiteral("jürgen"))->Username(), QStringLiteral("Jürgen"));
    }

    void numericTextIsAKeyNotAPosition()
    {
        clsUsersConfig c;
        c.Add(profile(QStringLiteral("a")), QStringLiteral("a"));
        c.Add(profile(QStringLiteral("b")), QStringLiteral("1"));
        QCOMPARE(c.Item(QStringLiteral("1"))->Username(), QStringLiteral("b"));
        QCOMPARE(c.Item(1)->Username(), QStringLiteral("a"));
        QCOMPARE(errorOf([&] { c.Item(QStringLiteral("2")); }), ErrorNumbers::InvalidCall.number);
    }

    void removeByPositionShiftsTheRest()
    {
        clsUsersConfig c;
        for (const char *n : {"a", "b", "c"})
            c.Add(profile(QString::fromLatin1(n)), QString::fromLatin1(n));
        c.Remove(2);
        QCOMPARE(c.Count(), 2);
        QCOMPARE(names(c), (QStringList{"a", "c"}));
        QCOMPARE(c.Item(2)->Username(), QStringLiteral("c"));
        // The removed key is free again and goes to the end.
        c.Add(profile(QStringLiteral("B")), QStringLiteral("B"));
        QCOMPARE(names(c), (QStringList{"a", "c", "B"}));
    }

    void removeByKey()
    {
        clsUsersConfig c;
        for (const char *n : {"a", "b", "c"})
            c.Add(profile(QString::fromLatin1(n)), QString::fromLatin1(n));
        c.Remove(QStringLiteral("C"));
        c.Remove(QStringLiteral("a"));
        QCOMPARE(names(c), (QStringList{"b"}));
        QCOMPARE(errorOf([&] { c.Remove(QStringLiteral("a")); }), ErrorNumbers::InvalidCall.number);
        QCOMPARE(c.Count(), 1);
    }

    void keyIsTheGivenNameNotTheProfileName()
    {
        clsUsersConfig c;
        const auto p = profile(QStringLiteral("shown"));
        c.Add(p, QStringLiteral("key"));
        QCOMPARE(c.Item(QStringLiteral("KEY")), p);
        QCOMPARE(errorOf([&] { c.Item(QStringLiteral("shown")); }), ErrorNumbers::InvalidCall.number);
    }

    void profilesAreSharedNotCopied()
    {
        clsUsersConfig c;
        const auto p = profile(QStringLiteral("x"), QStringLiteral("old"));
        c.Add(p, p->Username());
        p->setPassword(QStringLiteral("new"));
        QCOMPARE(c.Item(1)->Password(), QStringLiteral("new"));
    }

    void notNumericPositionIsAnError()
    {
        clsUsersConfig c;
        c.Add(profile(QStringLiteral("a")), QStringLiteral("a"));
        QVERIFY(errorOf([&] { c.Item(QVariant()); }) != 0);
        QCOMPARE(c.Count(), 1);
    }
};

QTEST_GUILESS_MAIN(tst_clsUsersConfig)
#include "tst_clsUsersConfig.moc"
