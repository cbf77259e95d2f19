#include "session/downloadmeter.h"

#include <QCoreApplication>

#include <cmath>
#include <utility>

namespace {

constexpr qint64 megabyte = 1024 * 1024;

// Done and total in the total's unit: "1.9 of 4.5 MB", "12 of 340 KB".
QString byteCounts(qint64 done, qint64 total)
{
    if (total >= megabyte) {
        const auto mb = [](qint64 bytes) {
            return QString::number(double(bytes) / megabyte, 'f', 1);
        };
        return QCoreApplication::translate("CMUpdater", "%1 of %2 MB").arg(mb(done), mb(total));
    }
    const auto kb = [](qint64 bytes) { return QString::number((bytes + 1023) / 1024); };
    return QCoreApplication::translate("CMUpdater", "%1 of %2 KB").arg(kb(done), kb(total));
}

} // namespace

DownloadMeter::DownloadMeter(Clock clock) : clock(std::move(clock)) {}

void DownloadMeter::start(const QString& file, qint64 totalBytes, qint64 presentBytes)
{
    name = file;
    total = qMax<qint64>(0, totalBytes);
    present = qBound<qint64>(0, presentBytes, total);
    first.reset();
    firstBytesSeen = false;
}

int DownloadMeter::resumedAt(int percent)
{
    if (percent <= 0 || firstBytesSeen)
        return 0;
    firstBytesSeen = true;
    const int onDisk = total > 0 ? int(present * 100 / total) : 0;
    // A source that sends the file whole again starts from the first bytes.
    return onDisk > 0 && percent >= onDisk ? onDisk : 0;
}

QString DownloadMeter::text(int percent)
{
    percent = qBound(0, percent, 100);
    if (total <= 0)
        return QCoreApplication::translate("CMUpdater", "%1 %").arg(percent);
    const qint64 done = total * percent / 100;
    // The rate counts from the first bytes: a resumed download jumps to its
    // bytes on disk at once, and the wait before the first byte is no rate.
    if (!first || (first->second == 0 && done > 0))
        first = {clock(), done};
    const QString left = timeLeft(done);
    const QString counts = byteCounts(done, total);
    if (left.isEmpty())
        return QCoreApplication::translate("CMUpdater", "%1 % - %2").arg(percent).arg(counts);
    return QCoreApplication::translate("CMUpdater", "%1 % - %2 - %3")
        .arg(percent)
        .arg(counts, left);
}

QString DownloadMeter::timeLeft(qint64 done) const
{
    const auto elapsed = std::chrono::duration<double>(clock() - first->first).count();
    const qint64 gained = done - first->second;
    if (elapsed < double(rateWindow.count()) || gained <= 0 || done >= total)
        return {};
    const double seconds = double(total - done) * elapsed / double(gained);
    if (seconds < 60)
        return QCoreApplication::translate("CMUpdater", "about %1 s left")
            .arg(qMax(1, int(std::ceil(seconds))));
    return QCoreApplication::translate("CMUpdater", "about %1 min left")
        .arg(int(std::ceil(seconds / 60)));
}
