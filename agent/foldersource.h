#pragma once

#include "agent/foldercopy.h"
#include "agent/ucinterface.h"
#include "agent/updatesource.h"
#include "base/ascaller.h"

#include <QString>
#include <QStringList>

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

// A folder the caller hands the updater (a USB stick, a share) holding what a
// source serves: "Keys.xml" and "Description.xml" with their signatures, the
// packages and their deltas.
struct FolderOrigin {
    QString path;
    CallerIds caller;
};

// The run's source when it comes from a folder. The version check copies the
// release whole into the installation before anything is checked: the key
// list and the description with their signatures where the agent leaves
// them, the packages and deltas the description names into a directory of
// the updater's own. A download hands the chosen ones over from there, as the
// agent would leave them. The checks that follow are a download's own, on
// these copies: a stick pulled or a file changed afterwards changes nothing.
// Nothing goes to the network.
class FolderSource final : public UpdateSource {
public:
    FolderSource(AgentListener& listener, QString basePath, FolderOrigin origin);
    ~FolderSource() override;
    FolderSource(const FolderSource&) = delete;
    FolderSource& operator=(const FolderSource&) = delete;

    bool Update(_UpdateMode mode, _CLIENT_INFO client) override;
    bool Download() override;
    // Handing over is a rename: there is nothing to stop.
    bool StopDownload() override { return false; }
    void RunEnded() override { removeCopies(); }

    // The directory of the copies, beside the installation's files.
    static constexpr char copiesName[] = ".folder_copy";

private:
    void post(std::function<void()> job);
    void runJobs();
    // Copies the release; the packages and deltas only when it names them.
    void copyRelease();
    void copyNamedFiles();
    // One file of the folder to target; false, with a line when refused, when not copied.
    FolderCopy::Outcome take(const QString& name, const QString& target, qint64 maxBytes) const;
    // The files the selection names, from the copies into the installation;
    // false when one is missing.
    bool handOver();
    void removeCopies() const;
    QString copiesPath() const { return basePath + '/' + copiesName; }

    AgentListener& listener;
    const QString basePath;
    const FolderOrigin origin;
    std::mutex mutex;
    std::condition_variable wake;
    std::deque<std::function<void()>> jobs;
    bool closing = false;
    // Last: its jobs reach everything above.
    std::thread worker;
};
