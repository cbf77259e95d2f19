#include "history/checkrecord.h"

void recordCheck(const QString& basePath, const CheckOutcome& outcome, const QDateTime& started)
{
    const QDateTime now = QDateTime::currentDateTimeUtc();
    writeLastCheck(basePath, now, outcome.result, outcome.reason);
    if (outcome.reason == Reason::None && outcome.result != Result::HeldBack)
        return;
    HistoryRecord record;
    record.started = started;
    record.ended = now;
    record.result = outcome.result == Result::Offered ? Result::Refused : outcome.result;
    record.reason = outcome.reason;
    record.software = outcome.software;
    record.keyId = outcome.keyId;
    appendHistory(basePath, record);
}
