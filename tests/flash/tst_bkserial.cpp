#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include "bkserial.h"
#include "pty.h"

namespace {

QByteArray everyByte()
{
    QByteArray bytes;
    for (int value = 0; value < 256; ++value)
        bytes.append(static_cast<char>(value));
    return bytes;
}

// The settings of a fresh terminal, where the line would echo, translate and
// act on control characters.
bool makeCooked(int fd)
{
    termios mode{};
    if (tcgetattr(fd, &mode) != 0)
        return false;
    mode.c_iflag |= ICRNL | IXON;
    mode.c_oflag |= OPOST | ONLCR;
    mode.c_lflag |= ICANON | ECHO | ISIG | IEXTEN;
    return tcsetattr(fd, TCSANOW, &mode) == 0;
}

// What the other end of the line receives within a second.
QByteArray readMaster(int master, qsizetype expected)
{
    QByteArray bytes;
    char chunk[512];
    pollfd watched{master, POLLIN, 0};
    while (bytes.size() < expected && poll(&watched, 1, 1000) > 0) {
        const ssize_t got = read(master, chunk, sizeof chunk);
        if (got <= 0)
            break;
        bytes.append(chunk, got);
    }
    return bytes;
}

int readLine(QByteArray& into, int timeoutMs)
{
    unsigned char chunk[512];
    _READ_DATA_INFO info{chunk, sizeof chunk, timeoutMs, -1};
    const int got = ReadData(&info);
    if (got > 0)
        into.append(reinterpret_cast<const char*>(chunk), got);
    return got;
}

int sendLine(const QByteArray& bytes, int timeoutMs)
{
    _SEND_DATA_INFO info{reinterpret_cast<const unsigned char*>(bytes.constData()),
                         static_cast<int>(bytes.size()), timeoutMs, -1};
    const int put = SendData(&info);
    // -2 tells a result that disagrees with the count.
    return put == info.count || put < 0 ? put : -2;
}

} // namespace

class SerialTest final : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void openGivesOneHandle();
    void everyBytePassesUnchanged();
    void readWaitsNoLongerThanAsked();
    void sendStopsWhenTheLineTakesNoMore();
    void hangUpIsAnError();
    void closedLineRefusesWork();
    void unusableDevice_data();
    void unusableDevice();

private:
    PseudoTerminal terminal_;
    QTemporaryDir work_;
};

void SerialTest::init()
{
    QVERIFY(terminal_.open());
    qputenv("BKSERIAL_DEVICE", QFile::encodeName(QString::fromStdString(terminal_.slavePath())));
}

void SerialTest::cleanup()
{
    if (IsOpen())
        QCOMPARE(Close(Open()), 0);
    terminal_.close();
}

void SerialTest::openGivesOneHandle()
{
    const int handle = Open();
    QVERIFY(handle >= 0);
    QCOMPARE(IsOpen(), 1);
    QCOMPARE(Open(), handle);
    QCOMPARE(Close(handle + 1), -1);
    QCOMPARE(IsOpen(), 1);
    QCOMPARE(Close(handle), 0);
    QCOMPARE(IsOpen(), 0);
    QCOMPARE(Close(handle), -1);
}

void SerialTest::everyBytePassesUnchanged()
{
    // Control characters, XON/XOFF, CR and NL must not be acted on: the line is raw.
    const QByteArray bytes = everyByte() + everyByte();
    QVERIFY(makeCooked(terminal_.master()));
    QVERIFY(Open() >= 0);

    QCOMPARE(sendLine(bytes, 1000), bytes.size());
    QCOMPARE(readMaster(terminal_.master(), bytes.size()), bytes);

    QCOMPARE(write(terminal_.master(), bytes.constData(), bytes.size()), bytes.size());
    QTRY_COMPARE(ReadDataWaiting(), bytes.size());
    QByteArray received;
    while (received.size() < bytes.size() && readLine(received, 1000) > 0) {
    }
    QCOMPARE(received, bytes);
    QCOMPARE(ReadDataWaiting(), 0);
}

void SerialTest::readWaitsNoLongerThanAsked()
{
    QVERIFY(Open() >= 0);
    QByteArray received;
    QElapsedTimer clock;
    clock.start();

    QCOMPARE(readLine(received, 150), 0);

    QVERIFY(clock.elapsed() >= 140);
    QVERIFY(clock.elapsed() < 1500);
    QCOMPARE(readLine(received, 0), 0);
    QVERIFY(received.isEmpty());
}

void SerialTest::sendStopsWhenTheLineTakesNoMore()
{
    QVERIFY(Open() >= 0);
    const QByteArray flood(4 * 1024 * 1024, 'x');
    QElapsedTimer clock;
    clock.start();

    const int put = sendLine(flood, 150);

    QVERIFY(put >= 0);
    QVERIFY(put < flood.size());
    QVERIFY(clock.elapsed() < 2000);
}

void SerialTest::hangUpIsAnError()
{
    QVERIFY(Open() >= 0);
    terminal_.close();
    QByteArray received;
    QElapsedTimer clock;
    clock.start();

    QCOMPARE(readLine(received, 1000), -1);
    QVERIFY(clock.elapsed() < 900);
    QCOMPARE(sendLine("AT\r", 1000), -1);
}

void SerialTest::closedLineRefusesWork()
{
    QByteArray received;
    QCOMPARE(IsOpen(), 0);
    QCOMPARE(readLine(received, 10), -1);
    QCOMPARE(sendLine("AT\r", 10), -1);
    QCOMPARE(ReadDataWaiting(), -1);
    QCOMPARE(ReadData(nullptr), -1);
    QCOMPARE(SendData(nullptr), -1);
}

void SerialTest::unusableDevice_data()
{
    QTest::addColumn<QString>("name");
    QTest::newRow("missing") << "no-such-tty";
    QTest::newRow("not a terminal") << "plain-file";
}

void SerialTest::unusableDevice()
{
    QFETCH(QString, name);
    QFile plain(work_.filePath("plain-file"));
    QVERIFY(plain.open(QIODevice::WriteOnly));
    qputenv("BKSERIAL_DEVICE", QFile::encodeName(work_.filePath(name)));

    QCOMPARE(Open(), -1);
    QCOMPARE(IsOpen(), 0);
}

QTEST_GUILESS_MAIN(SerialTest)
#include "tst_bkserial.moc"
