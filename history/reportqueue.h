#pragma once

#include "history/updatehistory.h"

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>

// Outcome reports waiting to be sent, kept in the installation so a report
// made while the link was down goes out at a later run. Each is the path
// below SERVER_URL it is fetched at:
//   reports/1/DEVICE/FROM/TO/RESULT/REASON?n=NONCE
// and nothing else: no IMEI, no id, no file name.
inline constexpr char reportQueueFileName[] = "update-reports.queue";
// At most this many wait; the oldest go first.
inline constexpr int reportQueueLimit = 100;
// None older than this is sent.
inline constexpr qint64 reportLifetime = 30 * 24 * 3600;

struct QueuedReport {
    QDateTime queued;
    QByteArray path; // percent-encoded, as above
    bool operator==(const QueuedReport&) const = default;
};

// The versions of a run as one field: software "+" firmware, e.g. "2.0+F2.0".
struct ReportedRun {
    QString device;
    QString from;
    QString to; // "-" when the run did not get to know it
    Result result;
    Reason reason;
};

// A report with a new 64-bit random nonce: one outcome, counted once however
// often it is sent. Empty when the system gives no random bytes.
QByteArray reportPath(const ReportedRun& run);

// The reports kept, oldest first: those in the file that are well formed,
// not older than the lifetime at now, and the last of the limit.
QList<QueuedReport> readReportQueue(const QString& basePath, const QDateTime& now);
// Replaces the queue with reports, all or nothing; an empty list removes it.
bool writeReportQueue(const QString& basePath, const QList<QueuedReport>& reports);
