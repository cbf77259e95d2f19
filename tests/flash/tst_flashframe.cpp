#include <QTest>

#include "frame.h"

using flash::Frame;
using flash::FrameDecoder;
using flash::FrameType;

Q_DECLARE_METATYPE(FrameType)

namespace {

std::vector<uint8_t> patterned(std::size_t size)
{
    // Avoids the frame start A5 5A inside the payload, so a resynchronisation
    // cannot land there.
    std::vector<uint8_t> bytes(size);
    for (std::size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<uint8_t>(i % 0xA0);
    return bytes;
}

FrameDecoder::Result decode(FrameDecoder& decoder, const std::vector<uint8_t>& bytes, Frame& frame)
{
    decoder.feed(bytes);
    return decoder.next(frame);
}

} // namespace

class FrameTest final : public QObject {
    Q_OBJECT

private slots:
    void frameSurvivesTheLine_data();
    void frameSurvivesTheLine();
    void noiseBeforeAFrameIsSkipped();
    void damagedFrameIsRejected_data();
    void damagedFrameIsRejected();
    void oversizedLengthIsRejectedAtOnce();
    void fileHeader();
};

void FrameTest::frameSurvivesTheLine_data()
{
    QTest::addColumn<FrameType>("type");
    QTest::addColumn<int>("seq");
    QTest::addColumn<int>("size");
    QTest::newRow("empty request") << FrameType::Hello << 0 << 0;
    QTest::newRow("one byte") << FrameType::FileData << 1 << 1;
    QTest::newRow("data chunk") << FrameType::FileData << 0x1234 << int(flash::kDataChunk);
    QTest::newRow("largest payload") << FrameType::Ack << 0xFFFF << int(flash::kMaxPayload);
}

void FrameTest::frameSurvivesTheLine()
{
    QFETCH(FrameType, type);
    QFETCH(int, seq);
    QFETCH(int, size);
    const Frame sent{type, static_cast<uint16_t>(seq), patterned(static_cast<std::size_t>(size))};
    const auto bytes = flash::encodeFrame(sent);
    FrameDecoder decoder;
    Frame received;

    // Byte by byte, as a slow line delivers it.
    for (std::size_t i = 0; i + 1 < bytes.size(); ++i) {
        decoder.feed(std::span(bytes).subspan(i, 1));
        QCOMPARE(decoder.next(received), FrameDecoder::Result::NeedMore);
    }
    decoder.feed(std::span(bytes).last(1));

    QCOMPARE(decoder.next(received), FrameDecoder::Result::Frame);
    QCOMPARE(received.type, sent.type);
    QCOMPARE(received.seq, sent.seq);
    QVERIFY(received.payload == sent.payload);
    QCOMPARE(decoder.next(received), FrameDecoder::Result::NeedMore);
}

void FrameTest::noiseBeforeAFrameIsSkipped()
{
    std::vector<uint8_t> bytes = {0x00, 0xA5, 0x41, 0x54, 0x0D, 0x5A, 0xA5};
    const auto frame = flash::encodeFrame(Frame{FrameType::NvBackup, 7, patterned(16)});
    bytes.insert(bytes.end(), frame.begin(), frame.end());
    FrameDecoder decoder;
    Frame received;

    QCOMPARE(decode(decoder, bytes, received), FrameDecoder::Result::Frame);
    QCOMPARE(received.type, FrameType::NvBackup);
    QCOMPARE(received.seq, uint16_t(7));
}

void FrameTest::damagedFrameIsRejected_data()
{
    QTest::addColumn<int>("offset");
    QTest::newRow("type") << 2;
    QTest::newRow("sequence") << 3;
    QTest::newRow("length") << 5;
    QTest::newRow("payload") << 10;
    QTest::newRow("check") << 7 + 16 + 3;
}

void FrameTest::damagedFrameIsRejected()
{
    QFETCH(int, offset);
    auto bytes = flash::encodeFrame(Frame{FrameType::FileData, 3, patterned(16)});
    bytes[static_cast<std::size_t>(offset)] ^= 0x01;
    const auto next = flash::encodeFrame(Frame{FrameType::FileData, 4, patterned(16)});
    bytes.insert(bytes.end(), next.begin(), next.end());
    FrameDecoder decoder;
    Frame received;

    QCOMPARE(decode(decoder, bytes, received), FrameDecoder::Result::Corrupt);
    FrameDecoder::Result result;
    while ((result = decoder.next(received)) == FrameDecoder::Result::Corrupt) {
    }

    // The intact frame after the damaged one is still found.
    QCOMPARE(result, FrameDecoder::Result::Frame);
    QCOMPARE(received.seq, uint16_t(4));
}

void FrameTest::oversizedLengthIsRejectedAtOnce()
{
    auto bytes = flash::encodeFrame(Frame{FrameType::FileData, 3, {}});
    bytes[5] = 0xFF;
    bytes[6] = 0xFF;
    FrameDecoder decoder;
    Frame received;

    QCOMPARE(decode(decoder, bytes, received), FrameDecoder::Result::Corrupt);
}

void FrameTest::fileHeader()
{
    const flash::FileHeader header{0x0102030405060708ULL, "amss/deep/efs image.bin"};
    const auto payload = flash::encodeFileHeader(header);

    const auto decoded = flash::decodeFileHeader(payload);

    QVERIFY(decoded.has_value());
    QCOMPARE(decoded->size, header.size);
    QCOMPARE(decoded->name, header.name);
    QVERIFY(!flash::decodeFileHeader(std::span(payload).first(7)).has_value());
}

QTEST_GUILESS_MAIN(FrameTest)
#include "tst_flashframe.moc"
