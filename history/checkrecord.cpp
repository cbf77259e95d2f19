#include "history/checkrecord.h"

void recordCheck(const QString& basePath, const CheckOutcome& outcome, const QDateTime& started)
{
    const QDateTime now = QDateTime::currentDateTimeUtc();
    writeLastCheck(basePath, now, outcome.result, outcome.reason);
    if (outcome.reason.isEmpty())
        return;
    HistoryRecord record;
    record.started = started;
    record.ended = now;
    record.result =
        outcome.result == QLatin1String("offered") ? QStringLiteral("refused") : outcome.result;
    record.reason = outcome.reason;
    record.software = outcome.software;
    record.keyId = outcome.keyId;
    appendHistory(basePath, record);
}
