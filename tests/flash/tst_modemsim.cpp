#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include "faults.h"
#include "modem.h"
#include "options.h"
#include "store.h"

using flash::Frame;
using flash::FrameType;

namespace {

std::span<const uint8_t> bytesOf(const QByteArray& bytes)
{
    return {reinterpret_cast<const uint8_t*>(bytes.constData()),
            static_cast<std::size_t>(bytes.size())};
}

QByteArray readFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool stage(ImageStore& images, const std::string& name, const QByteArray& bytes)
{
    return images.begin(name, static_cast<uint64_t>(bytes.size())) &&
           images.write(bytesOf(bytes)) && images.finish();
}

bool store(ImageStore& images, const std::string& name, const QByteArray& bytes)
{
    return stage(images, name, bytes) && images.commit();
}

Frame request(FrameType type, uint16_t seq, std::vector<uint8_t> payload = {})
{
    return Frame{type, seq, std::move(payload)};
}

Frame fileBegin(uint16_t seq, const std::string& name, uint64_t size)
{
    return request(FrameType::FileBegin, seq, flash::encodeFileHeader({size, name}));
}

std::optional<Options> parse(QStringList arguments)
{
    arguments.prepend("modem-sim");
    std::vector<QByteArray> storage;
    std::vector<char*> argv;
    for (const QString& argument : arguments)
        storage.push_back(argument.toLocal8Bit());
    for (QByteArray& argument : storage)
        argv.push_back(argument.data());
    argv.push_back(nullptr);
    std::string error;
    return parseOptions(static_cast<int>(storage.size()), argv.data(), error);
}

} // namespace

class ModemSimTest final : public QObject {
    Q_OBJECT

private slots:
    void init();

    void unsafeNameIsRefused_data();
    void unsafeNameIsRefused();
    void safeNameIsStored_data();
    void safeNameIsStored();
    void linkOnTheWayIsNotFollowed();
    void linkInPlaceIsReplacedNotFollowed();
    void incompleteFileLeavesNothing_data();
    void incompleteFileLeavesNothing();

    void stagedFilesReplaceTheImageTogether();
    void reopeningFinishesACommitOrDropsStagedFiles_data();
    void reopeningFinishesACommitOrDropsStagedFiles();

    void modemRefusesFilesOutsideDownloadMode();
    void modemRefusesAnImageThatDiffers();
    void modemAppliesARepeatOnce();
    void modemChecksRestoredNvItems();

    void faultMeetsTheChosenRequest();
    void options_data();
    void options();

private:
    QTemporaryDir work_;
    QString out_;
    QString outside_;
    std::optional<ImageStore> images_;
};

void ModemSimTest::init()
{
    QVERIFY(work_.isValid());
    const QString tag = QTest::currentDataTag();
    out_ = work_.filePath(QTest::currentTestFunction() + tag + "/out");
    outside_ = work_.filePath(QTest::currentTestFunction() + tag + "/outside");
    QVERIFY(QDir().mkpath(outside_));
    images_.emplace();
    QVERIFY(images_->open(out_.toStdString()));
}

void ModemSimTest::unsafeNameIsRefused_data()
{
    QTest::addColumn<QByteArray>("name");
    QTest::newRow("parent") << QByteArray("../evil");
    QTest::newRow("absolute") << QFile::encodeName(outside_ + "/evil");
    QTest::newRow("parent inside") << QByteArray("a/../../evil");
    QTest::newRow("bare parent") << QByteArray("..");
    QTest::newRow("trailing parent") << QByteArray("a/..");
    QTest::newRow("dot") << QByteArray("./evil");
    QTest::newRow("empty component") << QByteArray("a//evil");
    QTest::newRow("trailing slash") << QByteArray("a/");
    QTest::newRow("empty") << QByteArray();
    QTest::newRow("NUL") << QByteArray("a\0/../../evil", 13);
}

void ModemSimTest::unsafeNameIsRefused()
{
    QFETCH(QByteArray, name);
    const std::string wireName(name.constData(), static_cast<std::size_t>(name.size()));

    QVERIFY(!isSafeRelativeName(wireName));
    QVERIFY(!images_->begin(wireName, 4));

    QVERIFY(QDir(out_).isEmpty(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden));
    QVERIFY(QDir(outside_).isEmpty(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden));
    QVERIFY(!QFile::exists(work_.filePath("evil")));
}

void ModemSimTest::safeNameIsStored_data()
{
    QTest::addColumn<QString>("name");
    QTest::newRow("plain") << "amss.mbn";
    QTest::newRow("nested") << "amss/deep/efs image.bin";
    QTest::newRow("dots inside names") << "..hidden/a..b";
}

void ModemSimTest::safeNameIsStored()
{
    QFETCH(QString, name);

    QVERIFY(store(*images_, name.toStdString(), "firmware bytes"));

    QCOMPARE(readFile(out_ + "/" + name), QByteArray("firmware bytes"));
    QCOMPARE(images_->filesStored(), std::size_t(1));
}

void ModemSimTest::linkOnTheWayIsNotFollowed()
{
    QVERIFY(QFile::link(outside_, out_ + "/link"));

    QVERIFY(!images_->begin("link/evil", 4));

    QVERIFY(QDir(outside_).isEmpty(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden));
}

void ModemSimTest::linkInPlaceIsReplacedNotFollowed()
{
    QFile target(outside_ + "/target");
    QVERIFY(target.open(QIODevice::WriteOnly));
    target.write("keep");
    target.close();
    QVERIFY(QFile::link(target.fileName(), out_ + "/amss.mbn"));

    QVERIFY(store(*images_, "amss.mbn", "new firmware"));

    QCOMPARE(readFile(target.fileName()), QByteArray("keep"));
    QVERIFY(!QFileInfo(out_ + "/amss.mbn").isSymLink());
    QCOMPARE(readFile(out_ + "/amss.mbn"), QByteArray("new firmware"));
}

void ModemSimTest::incompleteFileLeavesNothing_data()
{
    QTest::addColumn<int>("announced");
    QTest::addColumn<bool>("abandon");
    QTest::newRow("fewer bytes than announced") << 10 << false;
    QTest::newRow("more bytes than announced") << 3 << false;
    QTest::newRow("abandoned") << 4 << true;
}

void ModemSimTest::incompleteFileLeavesNothing()
{
    QFETCH(int, announced);
    QFETCH(bool, abandon);
    QVERIFY(images_->begin("dir/amss.mbn", static_cast<uint64_t>(announced)));

    images_->write(bytesOf("four"));
    if (abandon)
        images_->abandon();

    QVERIFY(!images_->finish());
    QCOMPARE(images_->filesStored(), std::size_t(0));
    QVERIFY(QDir(out_ + "/dir").isEmpty(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden));
}

void ModemSimTest::stagedFilesReplaceTheImageTogether()
{
    QVERIFY(store(*images_, "amss.mbn", "old amss"));
    QVERIFY(store(*images_, "efs/keep.bin", "kept"));

    QVERIFY(stage(*images_, "amss.mbn", "new amss"));
    QVERIFY(stage(*images_, "efs/nv.bin", "new nv"));
    QCOMPARE(readFile(out_ + "/amss.mbn"), QByteArray("old amss"));
    QVERIFY(!QFileInfo::exists(out_ + "/efs/nv.bin"));
    QVERIFY(images_->commit());

    QCOMPARE(readFile(out_ + "/amss.mbn"), QByteArray("new amss"));
    QCOMPARE(readFile(out_ + "/efs/nv.bin"), QByteArray("new nv"));
    QCOMPARE(readFile(out_ + "/efs/keep.bin"), QByteArray("kept"));
    QVERIFY(!QFileInfo::exists(out_ + "/.staged"));
    QCOMPARE(images_->filesStored(), std::size_t(4));
}

void ModemSimTest::reopeningFinishesACommitOrDropsStagedFiles_data()
{
    QTest::addColumn<bool>("journal");
    QTest::addColumn<QByteArray>("amss");
    QTest::addColumn<QByteArray>("nv");
    // A crash after the first file was moved: the second follows.
    QTest::newRow("commit cut short") << true << QByteArray("new amss") << QByteArray("new nv");
    QTest::newRow("flash broken off") << false << QByteArray("old amss") << QByteArray();
}

void ModemSimTest::reopeningFinishesACommitOrDropsStagedFiles()
{
    QFETCH(bool, journal);
    QFETCH(QByteArray, amss);
    QFETCH(QByteArray, nv);
    QVERIFY(store(*images_, "amss.mbn", journal ? "new amss" : "old amss"));
    images_.reset();
    QVERIFY(QDir().mkpath(out_ + "/.staged"));
    QFile staged(out_ + "/.staged/1");
    QVERIFY(staged.open(QIODevice::WriteOnly));
    staged.write("new nv");
    staged.close();
    if (journal) {
        QFile entries(out_ + "/.staged/journal");
        QVERIFY(entries.open(QIODevice::WriteOnly));
        entries.write(QByteArray("amss.mbn\0efs/nv.bin\0", 20));
    }

    images_.emplace();
    QVERIFY(images_->open(out_.toStdString()));

    QCOMPARE(readFile(out_ + "/amss.mbn"), amss);
    QCOMPARE(readFile(out_ + "/efs/nv.bin"), nv);
    QVERIFY(!QFileInfo::exists(out_ + "/.staged"));
}

void ModemSimTest::modemRefusesFilesOutsideDownloadMode()
{
    Modem modem(*images_);

    QCOMPARE(modem.answer(fileBegin(0, "amss.mbn", 1)).type, FrameType::Nak);
    QCOMPARE(modem.answer(request(FrameType::SwitchDownload, 1)).type, FrameType::Ack);
    QCOMPARE(modem.answer(request(FrameType::FileData, 2, {1})).type, FrameType::Nak);
    QCOMPARE(modem.answer(fileBegin(3, "../amss.mbn", 1)).type, FrameType::Nak);
    QCOMPARE(modem.answer(fileBegin(4, "amss.mbn", 1)).type, FrameType::Ack);
    // The modem takes the image only after leaving download mode.
    QCOMPARE(modem.answer(request(FrameType::Commit, 5)).type, FrameType::Nak);
    QVERIFY(!modem.finished());
    QVERIFY(!QFileInfo::exists(out_ + "/../amss.mbn"));
}

void ModemSimTest::modemAppliesARepeatOnce()
{
    Modem modem(*images_);
    QCOMPARE(modem.answer(request(FrameType::SwitchDownload, 0)).type, FrameType::Ack);
    QCOMPARE(modem.answer(fileBegin(1, "amss.mbn", 3)).type, FrameType::Ack);
    const Frame data = request(FrameType::FileData, 2, {'a', 'b', 'c'});

    const Frame first = modem.answer(data);
    const Frame repeat = modem.answer(data);

    QCOMPARE(first.type, FrameType::Ack);
    QCOMPARE(repeat.type, FrameType::Ack);
    QCOMPARE(repeat.seq, uint16_t(2));
    QCOMPARE(modem.answer(request(FrameType::FileEnd, 3)).type, FrameType::Ack);
    QCOMPARE(modem.answer(request(FrameType::CloseDownload, 4)).type, FrameType::Ack);
    QVERIFY(!QFileInfo::exists(out_ + "/amss.mbn")); // aside until the commit
    flash::ImageDigest sent;
    sent.addFile({3, "amss.mbn"});
    sent.addData(bytesOf("abc"));
    QCOMPARE(modem.answer(request(FrameType::Commit, 5, sent.value())).type, FrameType::Ack);
    QCOMPARE(readFile(out_ + "/amss.mbn"), QByteArray("abc"));
    QCOMPARE(modem.answer(request(FrameType::ImageQuery, 6)).payload, sent.value());
}

void ModemSimTest::modemRefusesAnImageThatDiffers()
{
    QVERIFY(store(*images_, "amss.mbn", "old"));
    Modem modem(*images_);
    QCOMPARE(modem.answer(request(FrameType::SwitchDownload, 0)).type, FrameType::Ack);
    QCOMPARE(modem.answer(fileBegin(1, "amss.mbn", 3)).type, FrameType::Ack);
    QCOMPARE(modem.answer(request(FrameType::FileData, 2, {'n', 'e', 'w'})).type, FrameType::Ack);
    QCOMPARE(modem.answer(request(FrameType::FileEnd, 3)).type, FrameType::Ack);
    QCOMPARE(modem.answer(request(FrameType::CloseDownload, 4)).type, FrameType::Ack);
    flash::ImageDigest sent; // of "nEw": a bit flipped on the line
    sent.addFile({3, "amss.mbn"});
    sent.addData(bytesOf("nEw"));

    QCOMPARE(modem.answer(request(FrameType::Commit, 5, sent.value())).type, FrameType::Nak);

    QVERIFY(!modem.finished());
    QCOMPARE(readFile(out_ + "/amss.mbn"), QByteArray("old"));
    QVERIFY(!QFileInfo::exists(out_ + "/.staged"));
}

void ModemSimTest::modemChecksRestoredNvItems()
{
    Modem modem(*images_);
    const Frame backup = modem.answer(request(FrameType::NvBackup, 0));
    QCOMPARE(backup.type, FrameType::Ack);
    QVERIFY(!backup.payload.empty());
    auto altered = backup.payload;
    altered.at(altered.size() - 1) ^= 0xFF; // at(): GCC 12 at -O3 warns of a write before the start

    QCOMPARE(modem.answer(request(FrameType::NvRestore, 1, altered)).type, FrameType::Nak);
    QCOMPARE(modem.answer(request(FrameType::NvRestore, 1, backup.payload)).type, FrameType::Ack);
}

void ModemSimTest::faultMeetsTheChosenRequest()
{
    FaultInjector faults(FaultPlan{Fault::Nak, 1, FrameType::FileData, 2});
    const Frame begin = fileBegin(4, "a", 1);
    const Frame data = request(FrameType::FileData, 5, {1});
    const Frame next = request(FrameType::FileData, 6, {1});

    QCOMPARE(faults.onRequest(begin), Fault::None);
    QCOMPARE(faults.onRequest(data), Fault::Nak);
    QCOMPARE(faults.onRequest(data), Fault::Nak);
    // Two receptions were to be faulted; the third try goes through.
    QCOMPARE(faults.onRequest(data), Fault::None);
    QCOMPARE(faults.onRequest(next), Fault::None);

    FaultInjector onlyCommits(FaultPlan{Fault::Corrupt, 1, FrameType::Commit, 0, true});
    QCOMPARE(onlyCommits.onRequest(request(FrameType::Commit, 7)), Fault::Corrupt);
    QCOMPARE(onlyCommits.onRequest(request(FrameType::ImageQuery, 8)), Fault::None);
    QCOMPARE(onlyCommits.onRequest(request(FrameType::Commit, 7)), Fault::Corrupt);
}

void ModemSimTest::options_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<int>("fault");
    QTest::addColumn<int>("atFrame");

    QTest::newRow("plain") << QStringList{"--out", "d"} << true << int(Fault::None) << 1;
    QTest::newRow("stop after") << QStringList{"--out", "d", "--stop-after", "3"} << true
                                << int(Fault::Hangup) << 4;
    QTest::newRow("fault at frame") << QStringList{"--out", "d", "--fault", "corrupt", "--at", "7"}
                                    << true << int(Fault::Corrupt) << 7;
    QTest::newRow("flip") << QStringList{"--out", "d",      "--fault", "flip",
                                         "--at",  "commit", "--only"}
                          << true << int(Fault::Flip) << 1;
    QTest::newRow("only without a kind")
        << QStringList{"--out", "d", "--fault", "nak", "--only"} << false << 0 << 0;
    QTest::newRow("no out") << QStringList{"--fault", "nak"} << false << 0 << 0;
    QTest::newRow("unknown fault")
        << QStringList{"--out", "d", "--fault", "fire"} << false << 0 << 0;
    QTest::newRow("unknown request")
        << QStringList{"--out", "d", "--at", "reboot"} << false << 0 << 0;
    QTest::newRow("frame zero") << QStringList{"--out", "d", "--at", "0"} << false << 0 << 0;
    QTest::newRow("bad count") << QStringList{"--out", "d", "--times", "2x"} << false << 0 << 0;
    QTest::newRow("zero idle") << QStringList{"--out", "d", "--idle-timeout", "0"} << false << 0
                               << 0;
    QTest::newRow("stray argument") << QStringList{"--out", "d", "extra"} << false << 0 << 0;
}

void ModemSimTest::options()
{
    QFETCH(QStringList, arguments);
    QFETCH(bool, valid);
    QFETCH(int, fault);
    QFETCH(int, atFrame);

    const auto options = parse(arguments);

    QCOMPARE(options.has_value(), valid);
    if (!valid)
        return;
    QCOMPARE(int(options->fault.kind), fault);
    QCOMPARE(int(options->fault.atFrame), atFrame);
}

QTEST_GUILESS_MAIN(ModemSimTest)
#include "tst_modemsim.moc"
