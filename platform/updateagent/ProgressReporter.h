#pragma once

#include <QtGlobal>

#include <functional>

namespace updateagent {

// Whole percentages of one file: 0 first, 100 only once the file is complete, and
// nothing in between unless the number changes.
class ProgressReporter final {
public:
    using Report = std::function<void(int percent)>;

    explicit ProgressReporter(Report report);

    void start();
    // total <= 0 means the size is not known yet; nothing is reported then.
    void update(qint64 received, qint64 total);
    void finish();

private:
    void reportIfNew(int percent);

    Report report_;
    int last_ = -1;
};

} // namespace updateagent
