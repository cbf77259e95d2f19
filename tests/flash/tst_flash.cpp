#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include "lib6246.h"

namespace {

struct Report {
    int status;
    int progress;
    Qt::HANDLE thread;
};

std::vector<Report> reports;

int recordProgress(_PDLData* data)
{
    reports.push_back({data->status, data->progress, QThread::currentThreadId()});
    return 0;
}

bool flash(const QByteArray& imageDir)
{
    reports.clear();
    _DOWNLOAD_INFO info{};
    qstrncpy(info.imageDir, imageDir.constData(), sizeof info.imageDir);
    _IDownloadEvent events{recordProgress, Open,     Close,          IsOpen,
                           ReadData,       SendData, ReadDataWaiting};
    return setIde(&info, &events);
}

bool flash(const QString& imageDir)
{
    return flash(QFile::encodeName(imageDir));
}

// The reported codes, a code repeated in a row taken once.
QList<int> statuses()
{
    QList<int> codes;
    for (const Report& report : reports) {
        if (codes.isEmpty() || codes.last() != report.status)
            codes.append(report.status);
    }
    return codes;
}

QMap<QString, QByteArray> filesBelow(const QString& dir)
{
    QMap<QString, QByteArray> files;
    QDirIterator entry(dir, QDir::Files | QDir::Hidden | QDir::System,
                       QDirIterator::Subdirectories);
    while (entry.hasNext()) {
        QFile file(entry.next());
        if (file.open(QIODevice::ReadOnly))
            files.insert(QDir(dir).relativeFilePath(file.fileName()), file.readAll());
    }
    return files;
}

void writeFile(const QString& path, const QByteArray& bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    QCOMPARE(file.write(bytes), bytes.size());
}

QByteArray randomBytes(qsizetype size, quint32 seed)
{
    QRandomGenerator generator(seed);
    QByteArray bytes(size, Qt::Uninitialized);
    for (char& byte : bytes)
        byte = static_cast<char>(generator.bounded(256));
    return bytes;
}

// The modem simulator, serving one flash for the test.
class ModemSim final {
public:
    explicit ModemSim(const QString& outDir) : outDir_(outDir)
    {
        process_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    }

    ~ModemSim()
    {
        if (process_.state() != QProcess::NotRunning) {
            process_.terminate();
            if (!process_.waitForFinished(3000))
                process_.kill();
            process_.waitForFinished(3000);
        }
    }

    // Starts it and points the serial library at its terminal.
    bool start(const QStringList& extraArguments = {})
    {
        process_.start(MODEM_SIM_PATH,
                       QStringList{"--out", outDir_, "--idle-timeout", "10"} + extraArguments);
        while (!process_.canReadLine() && process_.waitForReadyRead(5000)) {
        }
        const QByteArray slave = process_.readLine().trimmed();
        qputenv("BKSERIAL_DEVICE", slave);
        return !slave.isEmpty();
    }

    void stop() { process_.terminate(); }

    // Its exit status, -1 when it did not end by itself.
    int finish()
    {
        if (!process_.waitForFinished(5000) || process_.exitStatus() != QProcess::NormalExit)
            return -1;
        return process_.exitCode();
    }

private:
    QString outDir_;
    QProcess process_;
};

constexpr int kSimComplete = 0;
constexpr int kSimIncomplete = 3;
constexpr int kAckTimeoutMs = 200;

const QList<int> kSuccessfulStages = {0, 1, 2, 4, 5, 11, 14, 15, 16, 18};

} // namespace

class FlashTest final : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();

    void flashReproducesImage_data();
    void flashReproducesImage();
    void faultEndsWithStageFailure_data();
    void faultEndsWithStageFailure();
    void lostRequestsCostLittle();
    void deadModemGivesUpAfterThreeTries();
    void noDevice_data();
    void noDevice();
    void unusableImage_data();
    void unusableImage();
    void symbolicLinksAreNotSent();
    void missingRecordsAreRefused();
    void simulatorServesThroughItsLink();
    void simulatorEndsOnSignal();
    void simulatorEndsWhenIdle();

private:
    void makeImage();

    QTemporaryDir work_;
    QString image_;
    QString received_;
};

void FlashTest::initTestCase()
{
    QVERIFY(work_.isValid());
    qputenv("LIB6246_ACK_TIMEOUT_MS", QByteArray::number(kAckTimeoutMs));
}

void FlashTest::init()
{
    image_ = work_.filePath(QTest::currentDataTag() + QStringLiteral("-image"));
    received_ = work_.filePath(QTest::currentDataTag() + QStringLiteral("-received"));
    QDir(image_).removeRecursively();
    QDir(received_).removeRecursively();
}

void FlashTest::makeImage()
{
    writeFile(image_ + "/version.txt", "M6246 firmware 2.1\n");
    writeFile(image_ + "/empty.bin", {});
    writeFile(image_ + "/chunk.bin", randomBytes(4096, 1));
    writeFile(image_ + "/amss/part.mbn", randomBytes(4097, 2));
    writeFile(image_ + "/amss/deep/efs image.bin", randomBytes(300000, 3));
    writeFile(image_ + QString::fromUtf8("/n\u00e4me.bin"), "\r\n\x03\x11\x13\x04\0\xff");
}

void FlashTest::flashReproducesImage_data()
{
    QTest::addColumn<QStringList>("faults");
    QTest::newRow("clean line") << QStringList{};
    QTest::newRow("hello lost once")
        << QStringList{"--fault", "silent", "--at", "hello", "--times", "1"};
    QTest::newRow("data refused twice")
        << QStringList{"--fault", "nak", "--at", "file-data", "--times", "2"};
    // The modem has stored the data already, so the repeat must not store it again.
    QTest::newRow("data answer damaged")
        << QStringList{"--fault", "corrupt", "--at", "file-data", "--times", "1"};
    QTest::newRow("nv answer damaged")
        << QStringList{"--fault", "corrupt", "--at", "nv-backup", "--times", "1"};
    QTest::newRow("file end lost once")
        << QStringList{"--fault", "silent", "--at", "file-end", "--times", "1"};
    // The modem took the image; asked again, it says so.
    QTest::newRow("every commit answer lost")
        << QStringList{"--fault", "corrupt", "--at", "commit", "--only"};
}

void FlashTest::flashReproducesImage()
{
    QFETCH(QStringList, faults);
    makeImage();
    ModemSim sim(received_);
    QVERIFY(sim.start(faults));

    QVERIFY(flash(image_));

    QCOMPARE(statuses(), kSuccessfulStages);
    QCOMPARE(reports.front().progress, 0);
    QCOMPARE(reports.back().progress, 100);
    QSet<int> progressValues;
    for (std::size_t i = 0; i < reports.size(); ++i) {
        QVERIFY(i == 0 || reports[i].progress >= reports[i - 1].progress);
        QCOMPARE(reports[i].thread, QThread::currentThreadId());
        progressValues.insert(reports[i].progress);
    }
    QVERIFY2(progressValues.size() > 40, "the bar should move while the files are sent");
    QCOMPARE(sim.finish(), kSimComplete);
    QCOMPARE(filesBelow(received_), filesBelow(image_));
}

void FlashTest::faultEndsWithStageFailure_data()
{
    QTest::addColumn<QStringList>("faults");
    QTest::addColumn<int>("stage");
    QTest::addColumn<int>("failure");

    const auto fault = [](const char* kind, const char* at) {
        return QStringList{"--fault", kind, "--at", at};
    };
    QTest::newRow("hello unanswered") << fault("silent", "hello") << 1 << 24;
    QTest::newRow("autorun refused") << fault("nak", "autorun-off") << 2 << 24;
    QTest::newRow("nv backup damaged") << fault("corrupt", "nv-backup") << 4 << 22;
    QTest::newRow("switch refused") << fault("nak", "switch") << 5 << 23;
    QTest::newRow("file begin unanswered") << fault("silent", "file-begin") << 11 << 27;
    QTest::newRow("data damaged") << fault("corrupt", "file-data") << 11 << 27;
    QTest::newRow("data refused three times") << (fault("nak", "file-data") << "--times"
                                                                            << "3")
                                              << 11 << 27;
    QTest::newRow("file end refused") << fault("nak", "file-end") << 11 << 27;
    QTest::newRow("nv restore refused") << fault("nak", "nv-restore") << 14 << 29;
    QTest::newRow("close unanswered") << fault("silent", "close") << 15 << 28;
    QTest::newRow("commit refused") << fault("nak", "commit") << 16 << 27;
    QTest::newRow("commit and question unanswered") << fault("silent", "commit") << 16 << 28;
    QTest::newRow("bit flipped in data") << (fault("flip", "file-data") << "--times"
                                                                        << "1")
                                         << 16 << 27;
    QTest::newRow("stop after three frames") << QStringList{"--stop-after", "3"} << 5 << 23;
    QTest::newRow("hang-up during data") << fault("hangup", "file-data") << 11 << 27;
}

void FlashTest::faultEndsWithStageFailure()
{
    QFETCH(QStringList, faults);
    QFETCH(int, stage);
    QFETCH(int, failure);
    makeImage();
    const QMap<QString, QByteArray> oldImage = {{"amss/part.mbn", "old part"},
                                                {"version.txt", "M6246 firmware 2.0\n"}};
    for (auto file = oldImage.begin(); file != oldImage.end(); ++file)
        writeFile(received_ + '/' + file.key(), file.value());
    ModemSim sim(received_);
    QVERIFY(sim.start(faults));
    QElapsedTimer clock;
    clock.start();

    QVERIFY(!flash(image_));

    QVERIFY2(clock.elapsed() < 5000, "a failing modem must end the flash quickly");
    const QList<int> codes = statuses();
    QVERIFY(codes.size() >= 3);
    QCOMPARE(codes.mid(codes.size() - 3), (QList<int>{stage, failure, 17}));
    QVERIFY(!codes.contains(18));
    QCOMPARE(sim.finish(), kSimIncomplete);
    // The modem keeps its old image whole, nothing of the new one beside it.
    QCOMPARE(filesBelow(received_), oldImage);
}

void FlashTest::lostRequestsCostLittle()
{
    writeFile(image_ + "/amss.mbn", randomBytes(5000, 4));
    ModemSim sim(received_);
    QVERIFY(sim.start({"--fault", "silent", "--at", "file-data", "--times", "2"}));
    qunsetenv("LIB6246_ACK_TIMEOUT_MS");
    QElapsedTimer clock;
    clock.start();

    const bool flashed = flash(image_);

    qputenv("LIB6246_ACK_TIMEOUT_MS", QByteArray::number(kAckTimeoutMs));
    QVERIFY(flashed);
    // Each lost request once cost the whole 1.5 s time-out.
    QVERIFY2(clock.elapsed() < 2500, qPrintable(QString::number(clock.elapsed())));
    QCOMPARE(sim.finish(), kSimComplete);
}

void FlashTest::deadModemGivesUpAfterThreeTries()
{
    makeImage();
    ModemSim sim(received_);
    QVERIFY(sim.start({"--fault", "silent"}));
    QElapsedTimer clock;
    clock.start();

    QVERIFY(!flash(image_));

    QVERIFY(clock.elapsed() >= 3 * kAckTimeoutMs);
    QVERIFY(clock.elapsed() < 3000);
    QCOMPARE(statuses(), (QList<int>{0, 1, 24, 17}));
}

void FlashTest::noDevice_data()
{
    QTest::addColumn<QString>("device");
    QTest::newRow("missing") << work_.filePath("no-such-tty");
    QTest::newRow("not a terminal") << work_.filePath("plain-file");
}

void FlashTest::noDevice()
{
    QFETCH(QString, device);
    writeFile(work_.filePath("plain-file"), "not a modem");
    makeImage();
    qputenv("BKSERIAL_DEVICE", QFile::encodeName(device));

    QVERIFY(!flash(image_));

    QCOMPARE(statuses(), (QList<int>{19, 17}));
}

void FlashTest::unusableImage_data()
{
    QTest::addColumn<QString>("layout");
    QTest::newRow("missing directory") << "missing";
    QTest::newRow("empty directory") << "empty";
    QTest::newRow("only a subdirectory") << "subdirectory";
    QTest::newRow("only a link to a file outside") << "link";
    QTest::newRow("unterminated field") << "unterminated";
}

void FlashTest::unusableImage()
{
    QFETCH(QString, layout);
    if (layout != "missing")
        QVERIFY(QDir().mkpath(image_));
    if (layout == "subdirectory")
        QVERIFY(QDir().mkpath(image_ + "/amss"));
    writeFile(work_.filePath("outside.bin"), "secret");
    if (layout == "link")
        QVERIFY(QFile::link(work_.filePath("outside.bin"), image_ + "/outside.bin"));
    // The image is looked at before the device: with none, the code would be 19.
    qputenv("BKSERIAL_DEVICE", QFile::encodeName(work_.filePath("no-such-tty")));

    const bool flashed = layout == "unterminated"
                             ? flash(QByteArray(sizeof _DOWNLOAD_INFO::imageDir, 'a'))
                             : flash(image_);

    QVERIFY(!flashed);
    QCOMPARE(statuses(), (QList<int>{20, 17}));
}

void FlashTest::symbolicLinksAreNotSent()
{
    writeFile(work_.filePath("outside/secret.bin"), "secret");
    writeFile(image_ + "/real.bin", "firmware");
    QVERIFY(QFile::link(work_.filePath("outside/secret.bin"), image_ + "/secret.bin"));
    QVERIFY(QFile::link(work_.filePath("outside"), image_ + "/outside"));
    ModemSim sim(received_);
    QVERIFY(sim.start());

    QVERIFY(flash(image_));

    QCOMPARE(sim.finish(), kSimComplete);
    QCOMPARE(filesBelow(received_).keys(), QStringList{"real.bin"});
}

void FlashTest::missingRecordsAreRefused()
{
    _DOWNLOAD_INFO info{};
    _IDownloadEvent events{recordProgress, Open,     Close,          IsOpen,
                           ReadData,       SendData, ReadDataWaiting};
    _IDownloadEvent silentEvents = events;
    silentEvents.onProgress = nullptr;
    reports.clear();

    QVERIFY(!setIde(nullptr, &events));
    QVERIFY(!setIde(&info, nullptr));
    QVERIFY(!setIde(&info, &silentEvents));
    QVERIFY(reports.empty());
}

void FlashTest::simulatorServesThroughItsLink()
{
    writeFile(image_ + "/amss.mbn", randomBytes(5000, 4));
    const QString link = work_.filePath("ttyModem");
    ModemSim sim(received_);
    QVERIFY(sim.start({"--link", link}));
    QCOMPARE(QFileInfo(link).symLinkTarget(), QFile::decodeName(qgetenv("BKSERIAL_DEVICE")));
    qputenv("BKSERIAL_DEVICE", QFile::encodeName(link));

    QVERIFY(flash(image_));

    QCOMPARE(sim.finish(), kSimComplete);
    QCOMPARE(filesBelow(received_), filesBelow(image_));
    QVERIFY(!QFileInfo(link).isSymLink());
}

void FlashTest::simulatorEndsOnSignal()
{
    const QString link = work_.filePath("ttyModem");
    ModemSim sim(received_);
    QVERIFY(sim.start({"--link", link}));
    QElapsedTimer clock;
    clock.start();

    sim.stop();

    QCOMPARE(sim.finish(), kSimIncomplete);
    QVERIFY(clock.elapsed() < 2000);
    QVERIFY(!QFileInfo(link).isSymLink());
}

void FlashTest::simulatorEndsWhenIdle()
{
    ModemSim sim(received_);
    QVERIFY(sim.start({"--idle-timeout", "1"}));
    QElapsedTimer clock;
    clock.start();

    QCOMPARE(sim.finish(), kSimIncomplete);
    QVERIFY(clock.elapsed() >= 900);
}

QTEST_GUILESS_MAIN(FlashTest)
#include "tst_flash.moc"
