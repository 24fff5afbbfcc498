// Real files mapped into the test process, their pages faulted in, then let go of or kept.
#include "system/ResidentPages.h"

#include <QtTest>

#include <sys/mman.h>
#include <unistd.h>

namespace {

// The resident kilobytes of the mapping that starts at address, from /proc/self/smaps; -1: none.
qint64 residentKb(const void *address)
{
    QFile smaps(QStringLiteral("/proc/self/smaps"));
    if (!smaps.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray start = QByteArray::number(quintptr(address), 16) + '-';
    bool inside = false;
    for (const QByteArray &line : smaps.readAll().split('\n')) {
        const QByteArray first = line.left(line.indexOf(' '));
        if (first.contains('-') && !first.endsWith(':'))
            inside = line.startsWith(start);
        else if (inside && line.startsWith("Rss:"))
            return line.mid(4).trimmed().split(' ').value(0).toLongLong();
    }
    return -1;
}

} // namespace

class tst_ResidentPages : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;

private slots:
    void release_data()
    {
        using enum ResidentPages::Which;
        QTest::addColumn<int>("protection");
        QTest::addColumn<int>("flags");
        QTest::addColumn<bool>("written");
        QTest::addColumn<bool>("listed");
        QTest::addColumn<ResidentPages::Which>("which");
        QTest::addColumn<bool>("released");
        QTest::newRow("read-only") << PROT_READ << MAP_PRIVATE << false << false << Unlisted << true;
        QTest::newRow("one of the program's own") << PROT_READ << MAP_PRIVATE << false << true << Unlisted << false;
        QTest::newRow("listed, of the listed") << PROT_READ << MAP_PRIVATE << false << true << Listed << true;
        QTest::newRow("unlisted, of the listed") << PROT_READ << MAP_PRIVATE << false << false << Listed << false;
        QTest::newRow("written, then made read-only") << PROT_READ << MAP_PRIVATE << true << true << Listed << false;
        QTest::newRow("writable") << (PROT_READ | PROT_WRITE) << MAP_PRIVATE << false << false << Unlisted << false;
        QTest::newRow("shared") << PROT_READ << MAP_SHARED << false << false << Unlisted << false;
    }
    void release()
    {
        QFETCH(int, protection);
        QFETCH(int, flags);
        QFETCH(bool, written);
        QFETCH(bool, listed);
        QFETCH(ResidentPages::Which, which);
        QFETCH(bool, released);
        const qsizetype size = 16 * ::sysconf(_SC_PAGESIZE);
        QByteArray content = QByteArray("abcdefghijklmnopqrstuvwxyz").repeated(size / 26 + 1).left(size);
        const QString path = m_dir.filePath(QString::fromLatin1(QTest::currentDataTag()));
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadWrite) && file.write(content) == size && file.flush());
        auto *pages = static_cast<char *>(
            ::mmap(nullptr, size_t(size), written ? PROT_READ | PROT_WRITE : protection, flags, file.handle(), 0));
        QVERIFY(pages != MAP_FAILED);
        const auto unmap = qScopeGuard([&] { ::munmap(pages, size_t(size)); });
        if (written) {
            pages[5] = '!';
            content[5] = '!';
            QCOMPARE(::mprotect(pages, size_t(size), protection), 0);
        }
        volatile char sum = 0;
        for (qsizetype i = 0; i < size; i += 64)
            sum = char(sum + pages[i]);
        QCOMPARE(residentKb(pages), size / 1024);

        QVERIFY(ResidentPages::MappedFiles().contains(path));
        const qint64 bytes = ResidentPages::Release(listed ? QSet<QString>{path} : QSet<QString>{}, which);

        QCOMPARE(residentKb(pages), released ? 0 : size / 1024);
        QVERIFY(bytes >= (released ? size : 0));
        // Whatever was let go of comes back as it was; what was written stays.
        QCOMPARE(QByteArray(pages, size), content);
    }
};

QTEST_GUILESS_MAIN(tst_ResidentPages)
#include "tst_ResidentPages.moc"
