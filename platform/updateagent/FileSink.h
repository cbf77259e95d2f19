#pragma once

#include "ContentCheck.h"
#include "ProgressReporter.h"
#include "Transfer.h"

#include <QSaveFile>

namespace updateagent {

// Streams a transfer into a temporary file beside its target, checking size and
// digest on the way; only a file that passes replaces the target. Dropping the sink
// before finish() leaves nothing behind.
class FileSink final : public TransferSink {
public:
    FileSink(const QString& target, Expectation expectation, ProgressReporter* progress);

    bool open();
    bool begin(const ResponseStart& start) override;
    bool receive(const char* data, std::size_t size) override;
    // Checks what arrived and renames it into place; false when the file fails a check.
    bool finish();
    // Why the transfer into this sink failed: the sink's own reason, else curl's.
    QString failureReason(const TransferResult& result) const;

private:
    void reportProgress();

    QSaveFile file_;
    ContentCheck check_;
    ProgressReporter* progress_;
};

} // namespace updateagent
