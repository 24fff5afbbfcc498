// Who holds the server: grants, refusals and the lapse of a hold, and what each panel is told.
#include "server/LockPolicy.h"

#include <QTest>

class tst_LockPolicy : public QObject
{
    Q_OBJECT

private slots:
    // Steps: "A?T" A asks at second T (+ granted, - refused); "A3@T" A's sign of life shows session 3;
    // "@T" time passes (! the server is let go). Then what A and B are told: argument and client.
    void sequence_data()
    {
        QTest::addColumn<bool>("shared");
        QTest::addColumn<QString>("steps");
        QTest::addColumn<QString>("outcome");
        QTest::addColumn<QString>("told");
        QTest::newRow("nobody holds it") << false << "@100" << "" << "0- 0-";
        QTest::newRow("held, then lapses once the session ended") << false << "A?0 B?1 A3@5 A0@6 @34 @36 B?37" << "+-!+" << "1B 0B";
        QTest::newRow("a grant that never becomes a session lapses") << false << "A?0 @29 @30 B?31" << "+!+" << "1B 0B";
        QTest::newRow("no session keeps the clock running") << false << "A?0 A3@10 A0@20 A1@25 A0@30 @54 @55" << "+!" << "0- 0-";
        QTest::newRow("the holder asks again: granted, clock anew") << false << "A?0 A?20 @49 @50" << "++!" << "0- 0-";
        QTest::newRow("letter case makes no other panel") << false << "A?0 a?1 B?2" << "++-" << "0a 1a";
        QTest::newRow("another panel's session keeps nothing") << false << "A?0 B3@20 @30" << "+!" << "0- 0-";
        QTest::newRow("held while in session, beyond the release time") << false << "A?0 A3@1 @100" << "+" << "0A 1A";
        QTest::newRow("a link ends in session: lapses from then") << false << "A?0 A3@1 A3@10 A0@11 @39 @40" << "+!" << "0- 0-";
        QTest::newRow("shared grants every request") << true << "A?0 B?1 A?2" << "+++" << "0A 0A";
        QTest::newRow("shared lapses too") << true << "A?0 @30" << "+!" << "0- 0-";
    }
    void sequence()
    {
        QFETCH(bool, shared);
        QFETCH(QString, steps);
        QFETCH(QString, outcome);
        QFETCH(QString, told);
        LockPolicy policy;
        policy.setMode(shared ? LockMode::Shared : LockMode::Exclusive);
        policy.setReleaseAfter(30000);
        QString results;
        for (const QString &step : steps.split(u' ', Qt::SkipEmptyParts)) {
            const QString panel = step.section(QRegularExpression("[?@0-9]"), 0, 0);
            const qint64 at = step.section(QRegularExpression("[?@]"), 1).toLongLong() * 1000;
            if (step.contains(u'?'))
                results += policy.request(panel, at) ? u'+' : u'-';
            else if (!panel.isEmpty())
                policy.signOfLife(panel, step.mid(panel.size(), 1).toInt(), at);
            else if (policy.expire(at))
                results += u'!';
        }
        QCOMPARE(results, outcome);
        QStringList status;
        for (const QString panel : {"A", "B"}) {
            RemoteConnectData client;
            const qint32 argument = policy.statusFor(panel, client);
            status << QString::number(argument) + (client.Connect ? client.ClientName : "-");
        }
        QCOMPARE(status.join(u' '), told);
        QCOMPARE(policy.locked(), !shared && told.contains(u'1'));
    }
};

QTEST_GUILESS_MAIN(tst_LockPolicy)
#include "tst_LockPolicy.moc"
