#pragma once

#include "history/updatehistory.h"

#include <QString>

#include <optional>

// The record of one run, filled in as its steps end and appended to the
// installation's history once, at its end.
class RunRecord final {
public:
    // Started now.
    explicit RunRecord(QString basePath);

    // The chosen packages, each failed until its step says otherwise, and
    // the bytes the download left.
    void choose(std::optional<ModuleRecord> software, std::optional<ModuleRecord> firmware,
                qint64 bytes);
    // The run's description was verified by the key with this id, and taken
    // before this installation's turn or not.
    void accepted(const QString& keyId, bool early)
    {
        record.keyId = keyId;
        record.early = early;
    }
    // A step ended with outcome; the first step that gives a reason gives the run's.
    void software(Result outcome, Reason reason = Reason::None);
    void firmware(Result outcome, Reason reason = Reason::None);
    // The run's result from its worst step: failed, then refused, then rolled back.
    Result worstResult() const;
    // Ends the record now with result (and reason, unless a step gave one) and
    // appends it to the history; the record as appended.
    const HistoryRecord& append(Result result, Reason reason = Reason::None);

private:
    void setOutcome(std::optional<ModuleRecord>& module, Result outcome, Reason reason);

    QString basePath;
    HistoryRecord record;
};
