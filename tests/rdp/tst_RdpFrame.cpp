// The session's picture put straight into a window of a real X server, through shared memory and
// through the connection, against what the server's screen then shows.
#include "RdpTestEnvironment.h"
#include "TestSupport.h"
#include "rdp/RdpFrame.h"
#include "rdp/RdpX11.h"
#include <QApplication>
#include <QTest>
#include <QWidget>

using namespace RdpTestEnvironment;

namespace {

// No two neighbouring pixels alike, and another picture for each seed.
QImage pattern(const QSize &size, int seed)
{
    QImage image(size, QImage::Format_RGB32);
    for (int y = 0; y < size.height(); ++y) {
        auto *line = reinterpret_cast<QRgb *>(image.scanLine(y));
        for (int x = 0; x < size.width(); ++x)
            line[x] = qRgb(x * 7 + seed * 40, y * 5 + x, (x ^ y) + seed);
    }
    return image;
}

} // namespace

class tst_RdpFrame : public QObject
{
    Q_OBJECT

public:
    explicit tst_RdpFrame(const RdpTestEnvironment::Display &display) : m_display(display) {}

private:
    const RdpTestEnvironment::Display &m_display;

private slots:
    // A picture larger than one request (2048 x 2100 x 4 bytes) goes through the connection in
    // bands; through shared memory it is the segment the frame keeps. Either way the window shows
    // every change, after a new size too, and the picture outlives the window it was shared with.
    void putIntoWindow_data()
    {
        QTest::addColumn<bool>("shared");
        QTest::addColumn<QSize>("size");
        QTest::addColumn<QRect>("change");
        QTest::addColumn<QSize>("resized"); // the size the server changes to, or none
        for (const bool shared : {true, false}) {
            const char *way = shared ? "shared memory" : "connection";
            QTest::addRow("%s, whole picture", way) << shared << QSize(2048, 2100) << QRect(0, 0, 2048, 2100) << QSize();
            QTest::addRow("%s, a rectangle", way) << shared << QSize(1024, 768) << QRect(101, 37, 333, 401) << QSize();
            QTest::addRow("%s, one column", way) << shared << QSize(1024, 768) << QRect(1023, 0, 1, 768) << QSize();
            QTest::addRow("%s, new size", way) << shared << QSize(800, 600) << QRect(5, 5, 10, 10) << QSize(1280, 1024);
        }
    }
    void putIntoWindow()
    {
        QFETCH(bool, shared);
        QFETCH(QSize, size);
        QFETCH(QRect, change);
        QFETCH(QSize, resized);
        if (shared)
            qunsetenv("QT_XCB_NO_MITSHM");
        else
            qputenv("QT_XCB_NO_MITSHM", "1");
        QWidget window;
        window.setGeometry(QRect(QPoint(0, 0), size.expandedTo(resized)));
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QCoreApplication::processEvents(); // the toolkit's own drawing there is done
        auto *x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
        RdpFrame frame;
        frame.reset(size);
        QCOMPARE(frame.setWindow(RdpX11::WindowImage::create(x11->connection(), quint32(window.winId()))), shared);

        QImage expected = pattern(size, 1);
        const auto write = [&frame](const QImage &picture, const QRect &rect) {
            QVERIFY(!frame.write(picture.constBits(), picture.bytesPerLine(), picture.size(), rect)); // nobody to tell
        };
        write(expected, expected.rect());
        const QImage second = pattern(size, 2);
        write(second, change);
        expected = expected.copy();
        for (int y = change.top(); y <= change.bottom(); ++y)
            memcpy(expected.scanLine(y) + change.left() * 4, second.constScanLine(y) + change.left() * 4, size_t(change.width()) * 4);
        if (resized.isValid()) {
            expected = pattern(resized, 3);
            write(expected, QRect(0, 0, 1, 1)); // a new size brings the whole picture
        }
        Probe probe(m_display.name());
        QCOMPARE(probe.grab(expected.rect()), expected.convertToFormat(QImage::Format_RGB888));
        QCOMPARE(frame.image(), expected);
        QVERIFY(!frame.setWindow(nullptr));
        QCOMPARE(frame.image(), expected);
    }
};

int main(int argc, char *argv[])
{
    RdpTestEnvironment::Display display(2048, 2100);
    qputenv("QT_QPA_PLATFORM", "xcb");
    qputenv("DISPLAY", display.name().toLatin1());
    TestSupport::withoutSessionBus();
    QApplication app(argc, argv);
    tst_RdpFrame test(display);
    return QTest::qExec(&test, argc, argv);
}

#include "tst_RdpFrame.moc"
