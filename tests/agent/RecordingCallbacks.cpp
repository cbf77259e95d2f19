#include "RecordingCallbacks.h"

#include <algorithm>

void RecordingCallbacks::HaveNewVsersion()
{
    record(CallbackEvent::Kind::NewVersion, 0);
}

void RecordingCallbacks::SetNowDownloadStatus(CheckVersionState state)
{
    record(CallbackEvent::Kind::State, state);
}

void RecordingCallbacks::DownloadFinished(bool ok)
{
    record(CallbackEvent::Kind::Finished, ok ? 1 : 0);
}

void RecordingCallbacks::DownloadProcess(char* filename, int percent)
{
    record(CallbackEvent::Kind::Progress, percent, QByteArray(filename));
}

bool RecordingCallbacks::waitUntil(const Condition& condition, std::chrono::milliseconds timeout)
{
    std::unique_lock lock(mutex_);
    return arrived_.wait_for(lock, timeout, [&] { return condition(events_); });
}

bool RecordingCallbacks::waitFor(CallbackEvent::Kind kind)
{
    return waitUntil([kind](const std::vector<CallbackEvent>& events) {
        return std::any_of(events.begin(), events.end(),
                           [kind](const CallbackEvent& event) { return event.kind == kind; });
    });
}

std::vector<CallbackEvent> RecordingCallbacks::events() const
{
    const std::lock_guard lock(mutex_);
    return events_;
}

std::vector<int> RecordingCallbacks::values(CallbackEvent::Kind kind) const
{
    std::vector<int> found;
    for (const CallbackEvent& event : events()) {
        if (event.kind == kind)
            found.push_back(event.value);
    }
    return found;
}

std::vector<int> RecordingCallbacks::progressOf(const QByteArray& fileName) const
{
    std::vector<int> found;
    for (const CallbackEvent& event : events()) {
        if (event.kind == CallbackEvent::Kind::Progress && event.fileName == fileName)
            found.push_back(event.value);
    }
    return found;
}

bool RecordingCallbacks::allFromOneThreadOtherThan(std::thread::id thread) const
{
    const std::vector<CallbackEvent> recorded = events();
    return std::all_of(recorded.begin(), recorded.end(), [&](const CallbackEvent& event) {
        return event.thread != thread && event.thread == recorded.front().thread;
    });
}

void RecordingCallbacks::record(CallbackEvent::Kind kind, int value, const QByteArray& fileName)
{
    const CallbackEvent event{kind, value, fileName, std::this_thread::get_id()};
    {
        const std::lock_guard lock(mutex_);
        events_.push_back(event);
    }
    arrived_.notify_all();
    if (onEvent)
        onEvent(event);
}
