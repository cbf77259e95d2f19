#pragma once

#include <QByteArray>
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

// The HEALTH_TIME setting: whole seconds from 0 (no watch) to 600; anything
// else gets a warning and the default of 30.
std::chrono::seconds healthTimeSetting(const QByteArray& text);

// True when a live process (not a zombie) has the executable name name, as
// "pidof" would find it.
bool processRunning(const QString& name);
