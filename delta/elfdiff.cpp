#include "delta/elfdiff.h"

#include "delta/elfreferences.h"
#include "delta/suffixdiff.h"

#include <zstd.h>

#include <algorithm>
#include <bit>
#include <memory>

namespace {

using CompressContext = std::unique_ptr<ZSTD_CCtx, decltype(&ZSTD_freeCCtx)>;

// A run of addresses that one pair of references alone says moved is cheaper
// left to the difference than two breakpoints: fewer deltas on both the
// static program and the shared object of the benchmark.
constexpr qint64 minimumVotes = 2;

// One old address and where the new file has it, with how many pairs of
// references say so.
struct Sample {
    quint64 address;
    qint64 shift;
    qint64 votes;
};

// Pairs each old reference with the new one at the same place of a match
// (the same distance from its start, the same form): its target, and the
// address it is relative to, went where the new one's are. Of several
// answers for an address the most frequent counts; runs of equal shifts
// become the map's breakpoints, and a run that fewer than minimumVotes pairs
// support is left to the difference (cheaper than two breakpoints).
ShiftMap shiftMapFromReferences(QByteArrayView old, const std::vector<ElfReference>& oldReferences,
                                QByteArrayView updated,
                                const std::vector<ElfReference>& newReferences,
                                const std::vector<SuffixMatch>& matches, qint64 minimumVotes)
{
    const auto firstAt = [](const std::vector<ElfReference>& references, qint64 position) {
        return std::lower_bound(references.begin(), references.end(), quint64(position),
                                [](const ElfReference& reference, quint64 value) {
                                    return reference.position < value;
                                });
    };
    std::vector<Sample> samples;
    for (const SuffixMatch& match : matches) {
        auto oldAt = firstAt(oldReferences, match.oldStart);
        auto newAt = firstAt(newReferences, match.newStart);
        const auto oldEnd = firstAt(oldReferences, match.oldStart + match.length);
        const auto newEnd = firstAt(newReferences, match.newStart + match.length);
        while (oldAt != oldEnd && newAt != newEnd) {
            const quint64 oldOffset = oldAt->position - quint64(match.oldStart);
            const quint64 newOffset = newAt->position - quint64(match.newStart);
            if (oldOffset < newOffset) {
                ++oldAt;
            } else if (newOffset < oldOffset) {
                ++newAt;
            } else {
                if (oldAt->form == newAt->form) {
                    const quint64 from = referenceTarget(old, *oldAt);
                    const quint64 to = referenceTarget(updated, *newAt);
                    samples.push_back({from, qint64(to - from), 1});
                    if (oldAt->form != ElfReference::Form::Absolute)
                        samples.push_back({oldAt->base, qint64(newAt->base - oldAt->base), 1});
                }
                ++oldAt;
                ++newAt;
            }
        }
    }
    std::sort(samples.begin(), samples.end(), [](const Sample& a, const Sample& b) {
        return a.address != b.address ? a.address < b.address : a.shift < b.shift;
    });
    // The most frequent shift of each address, then runs of equal shifts.
    std::vector<Sample> runs;
    for (size_t at = 0; at < samples.size();) {
        Sample best{samples[at].address, 0, 0};
        while (at < samples.size() && samples[at].address == best.address) {
            size_t next = at;
            while (next < samples.size() && samples[next].address == best.address &&
                   samples[next].shift == samples[at].shift)
                ++next;
            if (qint64(next - at) > best.votes)
                best = {best.address, samples[at].shift, qint64(next - at)};
            at = next;
        }
        if (!runs.empty() && runs.back().shift == best.shift)
            runs.back().votes += best.votes;
        else
            runs.push_back(best);
    }
    std::vector<Sample> kept;
    for (const Sample& run : runs) {
        if (run.votes < minimumVotes)
            continue;
        if (!kept.empty() && kept.back().shift == run.shift)
            kept.back().votes += run.votes;
        else
            kept.push_back(run);
    }
    ShiftMap map;
    for (const Sample& run : kept)
        map.push_back({map.empty() ? 0 : run.address, run.shift});
    if (!map.empty() && map.front().shift == 0)
        map.erase(map.begin());
    return map;
}

QByteArray compressMap(const QByteArray& bytes)
{
    const CompressContext context(ZSTD_createCCtx(), ZSTD_freeCCtx);
    const auto span = std::max<quint64>(quint64(bytes.size()), 1024);
    ZSTD_CCtx_setParameter(context.get(), ZSTD_c_compressionLevel, 19);
    ZSTD_CCtx_setParameter(context.get(), ZSTD_c_windowLog,
                           std::min(suffixStreamWindowLog, int(std::bit_width(span - 1))));
    QByteArray frame(qsizetype(ZSTD_compressBound(size_t(bytes.size()))), '\0');
    const size_t written = ZSTD_compress2(context.get(), frame.data(), size_t(frame.size()),
                                          bytes.constData(), size_t(bytes.size()));
    if (ZSTD_isError(written))
        return {};
    frame.truncate(qsizetype(written));
    return frame;
}

} // namespace

QByteArray elfDiff(QByteArrayView old, QByteArrayView updated)
{
    if (old.size() > maxElfBaseBytes)
        return {};
    const std::optional<ElfLayout> oldLayout = parseElf(old);
    const std::optional<ElfLayout> newLayout = parseElf(updated);
    if (!oldLayout || !newLayout)
        return {};
    const ShiftMap map = shiftMapFromReferences(old, findReferences(old, *oldLayout), updated,
                                                findReferences(updated, *newLayout),
                                                suffixMatches(old, updated), minimumVotes);
    if (qint64(map.size()) > maxShiftMapEntries)
        return {};
    const QByteArray mapFrame = compressMap(formatShiftMap(map));
    const QByteArray difference = suffixDiff(predictReferences(old, *oldLayout, map), updated);
    if (mapFrame.isEmpty() || difference.isEmpty())
        return {};
    return mapFrame + difference;
}
