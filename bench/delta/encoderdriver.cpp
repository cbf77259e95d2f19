// Each encoder of a changed file on its own, for the delta benchmark's real
// pairs: the suffix difference, the ELF difference (with the references it
// found in the old file and the breakpoints of its shift map) and the time
// each took, after checking that the ELF difference rebuilds the new file:
//   delta-encoders OLD NEW
#include "delta/elfdiff.h"
#include "delta/elfpatch.h"
#include "delta/elfreferences.h"
#include "delta/suffixdiff.h"

#include <QElapsedTimer>
#include <QFile>

#include <cstdio>

namespace {

QByteArray readWhole(const char* path)
{
    QFile file(QString::fromLocal8Bit(path));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 3) {
        std::fputs("usage: delta-encoders OLD NEW\n", stderr);
        return 2;
    }
    const QByteArray old = readWhole(argv[1]);
    const QByteArray updated = readWhole(argv[2]);
    QElapsedTimer timer;
    timer.start();
    const qsizetype diff = suffixDiff(old, updated).size();
    const qint64 diffMs = timer.restart();
    const QByteArray elf = elfDiff(old, updated);
    const qint64 elfMs = timer.restart();
    QByteArray made;
    const SuffixPatchResult result =
        applyElfDiff(old, elf, updated.size(), [&made](QByteArrayView piece) {
            made += piece;
            return true;
        });
    const qint64 applyMs = timer.restart();
    const std::optional<ElfLayout> layout = parseElf(old);
    std::printf("diff=%lld diff_ms=%lld elf=%lld elf_ms=%lld apply_ms=%lld references=%lld "
                "rebuilt=%d\n",
                qint64(diff), diffMs, qint64(elf.size()), elfMs, applyMs,
                layout ? countReferences(old, *layout) : qint64(-1),
                int(result.outcome == SuffixPatchResult::Outcome::Made && made == updated));
    return made == updated ? 0 : 1;
}
