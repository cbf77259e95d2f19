// Rebuilds a package tree from a delta as the updater does, and prints the
// time it took and the process's peak resident memory:
//   delta-rebuild DELTA BASE_TREE OUTPUT_TREE
#include "base/sha256.h"
#include "delta/deltamaker.h"
#include "delta/deltarebuild.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>

#include <cstdio>
#include <limits>
#include <sys/resource.h>

int main(int argc, char** argv)
{
    QCoreApplication application(argc, argv);
    const QStringList arguments = QCoreApplication::arguments();
    if (arguments.size() != 4) {
        std::fputs("usage: delta-rebuild DELTA BASE_TREE OUTPUT_TREE\n", stderr);
        return 2;
    }
    QFile delta(arguments[1]);
    if (!delta.open(QIODevice::ReadOnly))
        return 1;
    // Measured without the bound a package's size sets: only the disk's applies.
    const DeltaExpectation expected{sha256OfFile(arguments[1]), manifestDigest(delta.readAll()),
                                    std::numeric_limits<qint64>::max()};
    delta.close();
    QElapsedTimer timer;
    timer.start();
    const RebuildResult result =
        rebuildFromDelta(arguments[1], expected, arguments[2], arguments[3]);
    const qint64 elapsed = timer.nsecsElapsed();
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    std::printf("ms=%.2f peak_kib=%ld outcome=%d %s\n", double(elapsed) / 1e6, usage.ru_maxrss,
                int(result.outcome), qPrintable(result.reason));
    return result.outcome == RebuildResult::Outcome::Rebuilt ? 0 : 1;
}
