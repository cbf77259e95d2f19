#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <chrono>
#include <functional>

// Watches a freshly started program for a while: it has shown that it runs
// when it was found running at every check until the time was up.
class HealthWatch final {
public:
    using Check = std::function<bool()>;
    using Sleep = std::function<void(std::chrono::milliseconds)>;

    HealthWatch(std::chrono::milliseconds duration, Check running);

    // Tests replace the wait between two checks.
    void setSleep(Sleep sleep);

    // False at the first check that finds the program gone.
    bool passes() const;

    // How often the program is looked for.
    static constexpr std::chrono::milliseconds interval{250};

private:
    std::chrono::milliseconds duration;
    Check running;
    Sleep sleep;
};

// The live processes (no zombies) that count as the connection manager the
// updater started: those whose executable is the file program (whatever name
// they give themselves), and those that descend from the process started (a
// manager that forks, or a launcher that stays its parent). A namesake run by
// anyone else counts for nothing. started is 0 when no process id is known.
QList<qint64> managerProcesses(const QString& program, qint64 started);
