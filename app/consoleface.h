#pragma once

#include "session/sessionobserver.h"

#include <QSet>
#include <QString>

#include <mutex>
#include <optional>

// A face on the command line. It shows the run's status lines, one per step,
// and the download's progress (rewritten in place on a terminal, one line per
// tenth otherwise) when asked to, and ends the event loop where the window
// would close. The check's answer is kept for the command to print.
class ConsoleFace : public SessionObserver {
public:
    explicit ConsoleFace(bool showRun) : showRun(showRun) {}

    // Kept; an offer ends the loop, where the window would wait for the user.
    void checkAnswered(const CheckReport& report) override;
    bool keepPrivateData() override { return false; }
    void setProgress(int) override {}
    void setProgress(int percent, const QString& text) override;
    void appendLine(const char* text) override { appendLine(text, {}); }
    void appendLine(const char* text, const QStringList& arguments) override;
    void appendLineOnce(const char* text, const QString& scope) override;
    void markStep(UpdateStep step) override;
    void unmarkStep(UpdateStep) override {}
    void hideDialog() override {}
    void showWarning(const QList<const char*>& texts) override;
    void endEventLoop(int code) override;

    // The check's answer, once it came.
    std::optional<CheckReport> answer() const;

protected:
    void keep(const CheckReport& report);
    // Ends the command's event loop from any thread.
    static void quit(int code);
    void printLine(const QString& line);

private:
    void endProgressLine();

    const bool showRun;
    mutable std::mutex mutex;
    std::optional<CheckReport> report;
    QSet<QString> linesOnce;
    int lastTenth = -1;
    bool progressOpen = false;
};

class UpdateSession;

// Runs session with face on the command line, from the check to the end of
// its event loop: no pause is kept for a reader, and the process is not ended
// by the session but by the command once it has said what happened.
int runOnCommandLine(UpdateSession& session, ConsoleFace& face);

// The text of a source line in the window's words, with its arguments.
QString consoleText(const char* text, const QStringList& arguments = {});

struct HeldBack;
// The line a check held back adds to the notice, in the window's words.
QString heldBackText(const HeldBack& held);
