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

void RunRecord::software(const char* outcome, const char* reason)
{
    setOutcome(record.software, outcome, reason);
}

void RunRecord::firmware(const char* outcome, const char* reason)
{
    setOutcome(record.firmware, outcome, reason);
}

void RunRecord::setOutcome(std::optional<ModuleRecord>& module, const char* outcome,
                           const char* reason)
{
    if (module)
        module->outcome = QLatin1String(outcome);
    if (record.reason.isEmpty())
        record.reason = QLatin1String(reason);
}

const char* RunRecord::worstResult() const
{
    const char* worst = "installed";
    for (const char* outcome : {"rolled-back", "refused", "failed"}) {
        for (const std::optional<ModuleRecord>* module : {&record.software, &record.firmware}) {
            if (*module && (*module)->outcome == QLatin1String(outcome))
                worst = outcome;
        }
    }
    return worst;
}

void RunRecord::append(const char* result, const char* reason)
{
    record.result = QLatin1String(result);
    if (record.reason.isEmpty())
        record.reason = QLatin1String(reason);
    record.ended = QDateTime::currentDateTimeUtc();
    appendHistory(basePath, record);
}
