#pragma once

#include "Md5Pipe.h"
#include "ProgressReporter.h"
#include "Transfer.h"

#include <QByteArray>
#include <QSaveFile>

#include <memory>
#include <optional>

namespace updateagent {

// What the received file must be like before it may take its name.
struct Expectation {
    std::optional<qint64> size;
    QByteArray md5;       // lower-case hex; empty when not checked
    qint64 maxBytes = -1; // when no size is expected: most bytes accepted, -1 for no bound
};

// Streams a transfer into a temporary file beside its target, checking size and
// digest on the way; only a file that passes replaces the target. Dropping the sink
// before finish() leaves nothing behind.
class FileSink final : public TransferSink {
public:
    enum class Verdict { Complete, CannotWrite, TooLarge, SizeMismatch, Md5Mismatch };

    FileSink(const QString& target, Expectation expectation, ProgressReporter* progress);

    bool open();
    bool receive(const char* data, std::size_t size) override;
    bool proceed(qint64 total) override;
    // Checks what arrived and renames it into place; false when the file fails a check.
    bool finish();
    // Why the transfer into this sink failed: the sink's own reason, else curl's.
    QString failureReason(const TransferResult& result) const;

private:
    qint64 byteBound() const;
    void reportProgress();
    Verdict check();

    QSaveFile file_;
    Expectation expectation_;
    ProgressReporter* progress_;
    std::unique_ptr<Md5Pipe> md5_;
    qint64 received_ = 0;
    qint64 announcedTotal_ = 0;
    Verdict verdict_ = Verdict::Complete;
};

} // namespace updateagent
