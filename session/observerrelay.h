#pragma once

#include "session/sessionobserver.h"

#include <condition_variable>
#include <mutex>

// Hands the session's reports to its face. The version check goes out before
// the window is built, so a report that comes first waits for the face.
class ObserverRelay final : public SessionObserver {
public:
    void attach(SessionObserver& observer);

    void checkAnswered(const CheckReport& report) override { face().checkAnswered(report); }
    bool keepPrivateData() override { return face().keepPrivateData(); }
    void setProgress(int percent) override { face().setProgress(percent); }
    void setProgress(int percent, const QString& text) override
    {
        face().setProgress(percent, text);
    }
    void appendLine(const char* text) override { face().appendLine(text); }
    void appendLine(const char* text, const QStringList& arguments) override
    {
        face().appendLine(text, arguments);
    }
    void appendLineOnce(const char* text, const QString& scope) override
    {
        face().appendLineOnce(text, scope);
    }
    void markStep(UpdateStep step) override { face().markStep(step); }
    void unmarkStep(UpdateStep step) override { face().unmarkStep(step); }
    void hideDialog() override { face().hideDialog(); }
    void showWarning(const QList<const char*>& texts) override { face().showWarning(texts); }
    void endEventLoop(int code) override { face().endEventLoop(code); }

private:
    SessionObserver& face();

    std::mutex mutex;
    std::condition_variable attached;
    SessionObserver* target = nullptr;
};
