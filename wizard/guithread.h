#pragma once

#include <QCoreApplication>
#include <QMetaObject>
#include <QThread>

#include <utility>

// Runs change on the GUI thread: at once when already there, otherwise as a
// blocking queued call, so changes from a worker keep their order and are done
// when this returns. The GUI thread never waits for a worker, so this cannot
// deadlock.
template <typename Change> void onGuiThread(Change&& change)
{
    QCoreApplication* application = QCoreApplication::instance();
    if (application == nullptr || QThread::currentThread() == application->thread()) {
        change();
        return;
    }
    QMetaObject::invokeMethod(application, std::forward<Change>(change),
                              Qt::BlockingQueuedConnection);
}
