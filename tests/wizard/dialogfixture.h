#pragma once

#include "fakeplatform.h"

#include "base/shell.h"

#include <QTemporaryDir>

#include <atomic>
#include <memory>
#include <thread>

class CMUpdater;
class UpdateSession;

// A fresh dialog on a temporary installation directory, with short waits and a
// recorded process end instead of a real one.
class DialogFixture final {
public:
    // An installation without a watch of the new version; updateKeys: more
    // lines of the settings' "[UPDATE]" section.
    explicit DialogFixture(const QByteArray& updateKeys = {});
    ~DialogFixture();

    CMUpdater& dialog() { return *updater; }
    UpdateSession& session() { return *run; }
    QString path(const QString& name) const;
    void writeFile(const QString& name, const QByteArray& content) const;

    // Runs call on a thread of its own, as the agent does, and waits for it
    // while the GUI thread goes on processing events.
    template <typename Call> void onAgentThread(Call call)
    {
        std::atomic<bool> done{false};
        std::thread agent([&] {
            call();
            done = true;
        });
        while (!done)
            processEvents();
        agent.join();
    }

    int endedWith = -1; // status of the recorded process end, -1 while running

private:
    static void processEvents();

    QTemporaryDir installation;
    std::unique_ptr<UpdateSession> run;
    std::unique_ptr<CMUpdater> updater;
};

// Runs the lines for real, but never those that stop processes or remove the
// machine's device node.
class LocalShell final : public ShellRunner {
public:
    LocalShell() { setShellRunner(this); }
    ~LocalShell() override { setShellRunner(nullptr); }
    int run(const QString& line) override;
};

// A description offering the given packages, with positions as the parser reads them.
QByteArray description(const QByteArray& header, const QByteArray& packages,
                       const QByteArray& server = "<Server><IP>10.0.0.1</IP><Port>21</Port>"
                                                  "<UserName>u</UserName><Password>p</Password>"
                                                  "</Server>");
QByteArray newVersionHeader(const QByteArray& version = "2.0",
                            const QByteArray& text = "Better modem support");
QByteArray package(const QByteArray& packageClass, const QByteArray& filename,
                   const QByteArray& size = "2048", const QByteArray& text = "about it");
