#pragma once

#include <QString>

#include <chrono>
#include <functional>
#include <optional>

// The download page's progress text for one file: the bytes done of the
// total and, once a few seconds of rate are known, the time left ("42 % -
// 1.9 of 4.5 MB - about 2 min left"). The agent reports only percentages, so
// the bytes come from the package's size.
class DownloadMeter final {
public:
    using Clock = std::function<std::chrono::steady_clock::time_point()>;

    explicit DownloadMeter(Clock clock = std::chrono::steady_clock::now);

    // The file name starts with total bytes (0 when unknown), of which
    // present bytes lie on disk from an earlier run.
    void start(const QString& name, qint64 total, qint64 present);
    const QString& file() const { return name; }
    // At the first report past 0: the percentage the download continued from
    // when it kept the bytes on disk; 0 otherwise, and at every later report.
    int resumedAt(int percent);
    // The text for a report of percent; translated in the dialog's context.
    QString text(int percent);

    // How long the rate is measured before the time left is told.
    static constexpr std::chrono::seconds rateWindow{3};

private:
    QString timeLeft(qint64 done) const;

    Clock clock;
    QString name;
    qint64 total = 0;
    qint64 present = 0;
    bool firstBytesSeen = false;
    // The first report of this run, from which the rate is measured.
    std::optional<std::pair<std::chrono::steady_clock::time_point, qint64>> first;
};
