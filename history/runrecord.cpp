#include "history/runrecord.h"

#include <utility>

RunRecord::RunRecord(QString basePath) : basePath(std::move(basePath))
{
    record.started = QDateTime::currentDateTimeUtc();
}

void RunRecord::choose(std::optional<ModuleRecord> software, std::optional<ModuleRecord> firmware,
                       qint64 bytes)
{
    record.software = std::move(software);
    record.firmware = std::move(firmware);
    record.bytes = bytes;
}

void RunRecord::software(Result outcome, Reason reason)
{
    setOutcome(record.software, outcome, reason);
}

void RunRecord::firmware(Result outcome, Reason reason)
{
    setOutcome(record.firmware, outcome, reason);
}

void RunRecord::setOutcome(std::optional<ModuleRecord>& module, Result outcome, Reason reason)
{
    if (module)
        module->outcome = outcome;
    if (record.reason == Reason::None)
        record.reason = reason;
}

Result RunRecord::worstResult() const
{
    Result worst = Result::Installed;
    for (const Result outcome : {Result::RolledBack, Result::Refused, Result::Failed}) {
        for (const std::optional<ModuleRecord>* module : {&record.software, &record.firmware}) {
            if (*module && (*module)->outcome == outcome)
                worst = outcome;
        }
    }
    return worst;
}

const HistoryRecord& RunRecord::append(Result result, Reason reason)
{
    record.result = result;
    if (record.reason == Reason::None)
        record.reason = reason;
    record.ended = QDateTime::currentDateTimeUtc();
    appendHistory(basePath, record);
    return record;
}
