#pragma once

#include "Md5Pipe.h"

#include <QByteArray>
#include <QString>

#include <cstddef>
#include <memory>
#include <optional>

namespace updateagent {

struct TransferResult;

// What a received file must be like before it may take its name.
struct Expectation {
    std::optional<qint64> size;
    QByteArray md5;       // lower-case hex; empty when not checked
    qint64 maxBytes = -1; // when no size is expected: most bytes accepted, -1 for no bound
};

// Checks the bytes of a file as they arrive: the bound on the way, size and MD5 over
// the whole file at the end.
class ContentCheck final {
public:
    enum class Verdict {
        Complete,
        CannotWrite,
        TooLarge,
        SizeMismatch,
        Md5Mismatch,
        Incomplete,      // fewer bytes than expected, none of them wrong: may be continued
        ChangedAtSource, // the source no longer continues the bytes already here
    };

    explicit ContentCheck(Expectation expectation);

    // False when the source announces another size than expected.
    bool announce(qint64 total);
    // False when size more bytes would pass the bound.
    bool admit(std::size_t size);
    void add(const char* data, std::size_t size);
    // Forgets every byte: the file starts again from its first.
    void restart();
    // Size and MD5 over everything added; only after Incomplete may more bytes follow.
    Verdict conclude();
    void fail(Verdict verdict) { verdict_ = verdict; }

    Verdict verdict() const { return verdict_; }
    qint64 received() const { return received_; }
    // The expected size, else the announced one; 0 while unknown.
    qint64 total() const;
    const Expectation& expectation() const { return expectation_; }
    // Why a transfer into a file under this check failed: the check's own reason, else curl's.
    QString failureReason(const TransferResult& result) const;

private:
    qint64 byteBound() const;

    Expectation expectation_;
    std::unique_ptr<Md5Pipe> md5_;
    qint64 received_ = 0;
    qint64 announcedTotal_ = 0;
    Verdict verdict_ = Verdict::Complete;
};

} // namespace updateagent
