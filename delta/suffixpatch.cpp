#include "delta/suffixpatch.h"

#include "delta/suffixdiff.h"

#include <zstd.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <memory>
#include <optional>

namespace {

using Outcome = SuffixPatchResult::Outcome;
using DecompressContext = std::unique_ptr<ZSTD_DCtx, decltype(&ZSTD_freeDCtx)>;

constexpr qint64 pieceBytes = 64 * 1024;

// One stream's frame, decoded on demand through a bounded buffer.
class StreamReader final {
public:
    explicit StreamReader(QByteArrayView frame)
        : context(ZSTD_createDCtx(), ZSTD_freeDCtx), input{frame.data(), size_t(frame.size()), 0}
    {
        ZSTD_DCtx_setParameter(context.get(), ZSTD_d_windowLogMax, suffixStreamWindowLog);
    }

    // Exactly wanted bytes into out; false when the frame ends or breaks first.
    bool read(char* out, qint64 wanted)
    {
        while (wanted > 0) {
            if (head == filled && !refill())
                return false;
            const qint64 taken = std::min(wanted, filled - head);
            std::memcpy(out, buffer.data() + head, size_t(taken));
            head += taken;
            out += taken;
            wanted -= taken;
        }
        return true;
    }

    // Whether the frame is whole and every byte of it has been read.
    bool atEnd()
    {
        if (head == filled && !done)
            refill();
        return head == filled && done && input.pos == input.size;
    }

private:
    bool refill()
    {
        head = filled = 0;
        while (filled == 0 && !done) {
            ZSTD_outBuffer output{buffer.data(), buffer.size(), 0};
            const size_t pending = ZSTD_decompressStream(context.get(), &output, &input);
            if (ZSTD_isError(pending) ||
                (pending != 0 && output.pos == 0 && input.pos == input.size))
                return false;
            filled = qint64(output.pos);
            done = pending == 0;
        }
        return filled > 0;
    }

    DecompressContext context;
    ZSTD_inBuffer input;
    std::array<char, pieceBytes> buffer{};
    qint64 head = 0;
    qint64 filled = 0;
    bool done = false;
};

std::optional<quint64> readNumber(StreamReader& stream)
{
    quint64 value = 0;
    for (int shift = 0; shift < 64; shift += 7) {
        char byte = 0;
        if (!stream.read(&byte, 1))
            return std::nullopt;
        const auto bits = quint64(static_cast<unsigned char>(byte) & 0x7f);
        if (shift == 63 && bits > 1)
            return std::nullopt;
        value |= bits << shift;
        if ((static_cast<unsigned char>(byte) & 0x80) == 0)
            return value;
    }
    return std::nullopt;
}

// The difference stream, its runs of zeros expanded only as the file asks
// for bytes: a hostile count costs nothing the file does not need.
class ZeroRunReader final {
public:
    explicit ZeroRunReader(QByteArrayView frame) : stream(frame) {}

    bool read(char* out, qint64 wanted)
    {
        while (wanted > 0) {
            if (zeros == 0 && !pending) {
                const std::optional<quint64> run = readNumber(stream);
                if (!run || !stream.read(&value, 1))
                    return false;
                zeros = *run;
                pending = true;
            }
            const auto taken = qint64(std::min(zeros, quint64(wanted)));
            std::memset(out, 0, size_t(taken));
            out += taken;
            wanted -= taken;
            zeros -= quint64(taken);
            if (wanted > 0) {
                *out++ = value;
                --wanted;
                pending = false;
            }
        }
        return true;
    }

    bool atEnd() { return zeros == 0 && !pending && stream.atEnd(); }

private:
    StreamReader stream;
    quint64 zeros = 0;
    char value = 0;
    bool pending = false;
};

// The payload's first frame; empty when there is none whole.
QByteArrayView firstFrame(QByteArrayView payload)
{
    const size_t length = ZSTD_findFrameCompressedSize(payload.data(), size_t(payload.size()));
    return ZSTD_isError(length) ? QByteArrayView() : payload.first(qsizetype(length));
}

class Patcher final {
public:
    Patcher(QByteArrayView old, QByteArrayView control, QByteArrayView difference,
            QByteArrayView extra, const std::function<bool(QByteArrayView)>& sink)
        : old(old), control(control), difference(difference), extra(extra), sink(sink)
    {
    }

    SuffixPatchResult run(qint64 size)
    {
        const std::optional<quint64> start = readNumber(control);
        if (!start || *start > quint64(old.size()))
            return corrupt("the control stream starts outside the base");
        position = qint64(*start);
        while (made < size) {
            const std::optional<quint64> add = readNumber(control);
            const std::optional<quint64> copy = readNumber(control);
            const std::optional<quint64> move = readNumber(control);
            if (!add || !copy || !move)
                return corrupt("the control stream ends early");
            if (*add + *copy == 0 || *add > quint64(size - made) ||
                *copy > quint64(size - made) - *add || *add > quint64(old.size() - position))
                return corrupt("a step leaves the file or the base");
            if (const SuffixPatchResult result = makeStep(qint64(*add), qint64(*copy));
                result.outcome != Outcome::Made)
                return result;
            const qint64 seek = qint64(*move >> 1) ^ -qint64(*move & 1);
            if (seek < -position || seek > old.size() - position)
                return corrupt("a move leaves the base");
            position += seek;
        }
        if (!control.atEnd() || !difference.atEnd() || !extra.atEnd())
            return corrupt("a stream holds more than the file");
        return {Outcome::Made, {}};
    }

private:
    static SuffixPatchResult corrupt(const char* reason)
    {
        return {Outcome::Corrupt, QString::fromLatin1(reason)};
    }

    SuffixPatchResult makeStep(qint64 add, qint64 copy)
    {
        for (qint64 left = add; left > 0;) {
            const qint64 piece = std::min(left, pieceBytes);
            if (!difference.read(buffer.data(), piece))
                return corrupt("the difference stream ends early");
            for (qint64 i = 0; i < piece; ++i)
                buffer[size_t(i)] = char(buffer[size_t(i)] + old[position + i]);
            if (!sink(QByteArrayView(buffer.data(), piece)))
                return {Outcome::WriteFailed, {}};
            position += piece;
            made += piece;
            left -= piece;
        }
        for (qint64 left = copy; left > 0;) {
            const qint64 piece = std::min(left, pieceBytes);
            if (!extra.read(buffer.data(), piece))
                return corrupt("the extra stream ends early");
            if (!sink(QByteArrayView(buffer.data(), piece)))
                return {Outcome::WriteFailed, {}};
            made += piece;
            left -= piece;
        }
        return {Outcome::Made, {}};
    }

    QByteArrayView old;
    StreamReader control;
    ZeroRunReader difference;
    StreamReader extra;
    const std::function<bool(QByteArrayView)>& sink;
    std::array<char, pieceBytes> buffer{};
    qint64 position = 0;
    qint64 made = 0;
};

} // namespace

SuffixPatchResult applySuffixDiff(QByteArrayView old, QByteArrayView payload, qint64 size,
                                  const std::function<bool(QByteArrayView)>& sink)
{
    const QByteArrayView control = firstFrame(payload);
    const QByteArrayView difference = firstFrame(payload.sliced(control.size()));
    if (control.empty() || difference.empty() || old.size() > maxSuffixBaseBytes)
        return {Outcome::Corrupt, QStringLiteral("the streams are not whole")};
    const QByteArrayView extra = payload.sliced(control.size() + difference.size());
    return Patcher(old, control, difference, extra, sink).run(size);
}
