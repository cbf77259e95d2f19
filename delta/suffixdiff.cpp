#include "delta/suffixdiff.h"

#include <divsufsort.h>
#include <zstd.h>

#include <algorithm>
#include <bit>
#include <cstring>
#include <memory>
#include <utility>
#include <vector>

namespace {

using CompressContext = std::unique_ptr<ZSTD_CCtx, decltype(&ZSTD_freeCCtx)>;

struct Match {
    qint64 position = 0;
    qint64 length = 0;
};

qint64 commonLength(QByteArrayView a, QByteArrayView b)
{
    const qint64 limit = std::min(a.size(), b.size());
    qint64 length = 0;
    while (length < limit && a[length] == b[length])
        ++length;
    return length;
}

class SuffixIndex final {
public:
    explicit SuffixIndex(QByteArrayView old) : old(old), order(size_t(old.size()))
    {
        if (!old.empty())
            divsufsort(reinterpret_cast<const sauchar_t*>(old.data()), order.data(),
                       saidx_t(old.size()));
    }

    // The longest prefix of wanted that the old file holds somewhere.
    Match longest(QByteArrayView wanted) const
    {
        if (order.empty())
            return {};
        qint64 low = 0;
        qint64 high = qint64(order.size()) - 1;
        while (high - low > 1) {
            const qint64 middle = low + (high - low) / 2;
            const QByteArrayView suffix = old.sliced(order[size_t(middle)]);
            const qint64 span = std::min(suffix.size(), wanted.size());
            // A suffix that is a prefix of wanted sorts before it.
            const int sign = std::memcmp(suffix.data(), wanted.data(), size_t(span));
            if (sign < 0 || (sign == 0 && suffix.size() < wanted.size()))
                low = middle;
            else
                high = middle;
        }
        const Match first = at(low, wanted);
        const Match second = at(high, wanted);
        return second.length > first.length ? second : first;
    }

private:
    Match at(qint64 rank, QByteArrayView wanted) const
    {
        const qint64 position = order[size_t(rank)];
        return {position, commonLength(old.sliced(position), wanted)};
    }

    QByteArrayView old;
    std::vector<saidx_t> order;
};

void appendNumber(QByteArray& out, quint64 value)
{
    while (value >= 0x80) {
        out += char(0x80 | (value & 0x7f));
        value >>= 7;
    }
    out += char(value);
}

// Walks the new file, extending each exact match found through the index
// forwards and backwards while at least half of the bytes agree.
class DiffWriter final {
public:
    DiffWriter(QByteArrayView old, QByteArrayView updated) : old(old), updated(updated), index(old)
    {
    }

    void run()
    {
        qint64 scan = 0;
        qint64 length = 0;
        Match match;
        while (scan < updated.size()) {
            qint64 oldScore = 0;
            qint64 scored = scan += length;
            for (; scan < updated.size(); ++scan) {
                match = index.longest(updated.sliced(scan));
                length = match.length;
                for (; scored < scan + length; ++scored)
                    oldScore += agreesAtLastOffset(scored);
                // A new match when it beats the last offset by more than a few
                // bytes: five gave the smallest deltas on compiled programs.
                if ((length == oldScore && length != 0) || length > oldScore + 5)
                    break;
                oldScore -= agreesAtLastOffset(scan);
            }
            if (length != oldScore || scan == updated.size())
                addTriple(scan, match.position);
        }
        if (zeroRun > 0) {
            --zeroRun;
            endRun(0);
        }
        appendNumber(control, quint64(start));
        for (const Step& step : steps) {
            appendNumber(control, quint64(step.add));
            appendNumber(control, quint64(step.copy));
            appendNumber(control, (quint64(step.move) << 1) ^ quint64(step.move >> 63));
        }
    }

    QByteArray control;
    QByteArray difference;
    QByteArray extra;
    std::vector<SuffixMatch> matches;

private:
    bool agreesAtLastOffset(qint64 at) const
    {
        const qint64 there = at + lastOffset;
        return there >= 0 && there < old.size() && old[there] == updated[at];
    }

    // Only moved addresses differ: runs of zeros between the bytes that do.
    void addDifference(char byte)
    {
        if (byte == 0)
            ++zeroRun;
        else
            endRun(byte);
    }

    void endRun(char byte)
    {
        appendNumber(difference, quint64(zeroRun));
        difference += byte;
        zeroRun = 0;
    }

    qint64 forwardLength(qint64 scan) const
    {
        qint64 score = 0;
        qint64 best = 0;
        qint64 length = 0;
        for (qint64 i = 0; lastScan + i < scan && lastPosition + i < old.size();) {
            score += old[lastPosition + i] == updated[lastScan + i];
            ++i;
            if (score * 2 - i > best * 2 - length) {
                best = score;
                length = i;
            }
        }
        return length;
    }

    qint64 backwardLength(qint64 scan, qint64 position) const
    {
        if (scan >= updated.size())
            return 0;
        qint64 score = 0;
        qint64 best = 0;
        qint64 length = 0;
        for (qint64 i = 1; scan >= lastScan + i && position >= i; ++i) {
            score += old[position - i] == updated[scan - i];
            if (score * 2 - i > best * 2 - length) {
                best = score;
                length = i;
            }
        }
        return length;
    }

    // Where two extensions overlap, the split that keeps the most agreeing bytes.
    void splitOverlap(qint64 scan, qint64 position, qint64& forward, qint64& backward) const
    {
        const qint64 overlap = lastScan + forward - (scan - backward);
        if (overlap <= 0)
            return;
        qint64 score = 0;
        qint64 best = 0;
        qint64 kept = 0;
        for (qint64 i = 0; i < overlap; ++i) {
            score += updated[lastScan + forward - overlap + i] ==
                     old[lastPosition + forward - overlap + i];
            score -= updated[scan - backward + i] == old[position - backward + i];
            if (score > best) {
                best = score;
                kept = i + 1;
            }
        }
        forward += kept - overlap;
        backward -= kept;
    }

    void addTriple(qint64 scan, qint64 position)
    {
        qint64 forward = forwardLength(scan);
        qint64 backward = backwardLength(scan, position);
        splitOverlap(scan, position, forward, backward);
        for (qint64 i = 0; i < forward; ++i)
            addDifference(char(updated[lastScan + i] - old[lastPosition + i]));
        if (forward > 0)
            matches.push_back({lastPosition, lastScan, forward});
        const qint64 extraLength = scan - backward - (lastScan + forward);
        extra += updated.sliced(lastScan + forward, extraLength);
        const qint64 move = position - backward - (lastPosition + forward);
        if (forward + extraLength > 0)
            steps.push_back({forward, extraLength, move});
        else if (!steps.empty()) // a step that makes nothing only moves
            steps.back().move += move;
        else
            start += move;
        lastScan = scan - backward;
        lastPosition = position - backward;
        lastOffset = position - scan;
    }

    QByteArrayView old;
    QByteArrayView updated;
    SuffixIndex index;
    qint64 lastScan = 0;
    qint64 lastPosition = 0;
    qint64 lastOffset = 0;
    struct Step {
        qint64 add;
        qint64 copy;
        qint64 move;
    };
    std::vector<Step> steps;
    qint64 start = 0;
    qint64 zeroRun = 0;
};

QByteArray compressStream(const QByteArray& stream)
{
    const CompressContext context(ZSTD_createCCtx(), ZSTD_freeCCtx);
    const auto span = std::max<quint64>(quint64(stream.size()), 1024);
    ZSTD_CCtx_setParameter(context.get(), ZSTD_c_compressionLevel, 19);
    ZSTD_CCtx_setParameter(context.get(), ZSTD_c_windowLog,
                           std::min(suffixStreamWindowLog, int(std::bit_width(span - 1))));
    ZSTD_CCtx_setParameter(context.get(), ZSTD_c_enableLongDistanceMatching, 1);
    QByteArray frame(qsizetype(ZSTD_compressBound(size_t(stream.size()))), '\0');
    const size_t written = ZSTD_compress2(context.get(), frame.data(), size_t(frame.size()),
                                          stream.constData(), size_t(stream.size()));
    if (ZSTD_isError(written))
        return {};
    frame.truncate(qsizetype(written));
    return frame;
}

} // namespace

std::vector<SuffixMatch> suffixMatches(QByteArrayView old, QByteArrayView updated)
{
    if (old.size() > maxSuffixBaseBytes)
        return {};
    DiffWriter writer(old, updated);
    writer.run();
    return std::move(writer.matches);
}

QByteArray suffixDiff(QByteArrayView old, QByteArrayView updated)
{
    if (old.size() > maxSuffixBaseBytes)
        return {};
    DiffWriter writer(old, updated);
    writer.run();
    const QByteArray frames[] = {compressStream(writer.control), compressStream(writer.difference),
                                 compressStream(writer.extra)};
    if (std::any_of(std::begin(frames), std::end(frames),
                    [](const QByteArray& frame) { return frame.isEmpty(); }))
        return {};
    return frames[0] + frames[1] + frames[2];
}
