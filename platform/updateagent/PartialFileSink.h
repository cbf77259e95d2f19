#pragma once

#include "ContentCheck.h"
#include "PartialFile.h"
#include "ProgressReporter.h"
#include "Transfer.h"

namespace updateagent {

// Streams a package into its partial file, which a later try of this run or of a
// later run continues while its identity matches. Size and MD5 are checked over the
// whole file; only a file that passes is made durable and renamed into place.
class PartialFileSink final : public TransferSink {
public:
    PartialFileSink(const QString& target, Expectation expectation, ProgressReporter& progress);
    ~PartialFileSink() override;
    PartialFileSink(const PartialFileSink&) = delete;
    PartialFileSink& operator=(const PartialFileSink&) = delete;

    // Continues the part an earlier run left when it is the beginning of this very
    // file; removes it otherwise.
    void takeUpEarlierPart();
    // Where the next transfer is to continue.
    ResumePoint resumePoint() const;
    // True when every expected byte is here already.
    bool hasAllBytes() const;
    // Bytes received by this sink so far, those of abandoned starts included.
    qint64 arrived() const { return arrived_; }

    bool begin(const ResponseStart& start) override;
    bool receive(const char* data, std::size_t size) override;
    // Checks the whole file, makes it durable and renames it into place.
    bool finish();
    // Removes the part: the next transfer starts from the first byte.
    void discard();

    const ContentCheck& check() const { return check_; }

private:
    bool startOver(const ResponseStart& start);
    bool openData(int flags);
    bool hashExistingBytes(qint64 length);
    bool writeAll(const char* data, std::size_t size);
    void writeBack();
    bool publish();
    void closeData();

    PartialFile part_;
    ContentCheck check_;
    ProgressReporter& progress_;
    PartIdentity identity_;
    int fd_ = -1;
    qint64 arrived_ = 0;
    qint64 writtenBack_ = 0;
};

} // namespace updateagent
