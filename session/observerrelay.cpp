#include "session/observerrelay.h"

void ObserverRelay::attach(SessionObserver& observer)
{
    {
        const std::lock_guard lock(mutex);
        target = &observer;
    }
    attached.notify_all();
}

SessionObserver& ObserverRelay::face()
{
    std::unique_lock lock(mutex);
    attached.wait(lock, [this] { return target != nullptr; });
    return *target;
}
