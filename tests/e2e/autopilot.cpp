// Preloaded into the installed updater by the end-to-end tests: clicks through
// the wizard as a user would, on the GUI thread, through the real widgets.
//   AUTOPILOT_TICK   rows to tick on the package page, e.g. "0,1"
//   AUTOPILOT_BACKUP "yes" or "no", the answer to the private-data question
//   AUTOPILOT_CANCEL "notice" or "select": press Cancel there instead
//   AUTOPILOT_ESCAPE a step label's name, e.g. "downloadLabel": on the update
//                    page, while that label is bold, press Escape and close the
//                    window at every tick, and log it
//   AUTOPILOT_LINES  a file to which every shell line is appended as it ends
//   AUTOPILOT_KILL_AFTER  N: after the Nth shell line, SIGKILL every process in
//                    the sandbox, the updater last: a power cut at that point
//   AUTOPILOT_NO_PAUSE "1": the 5 s pause after stopping the connection manager
//                    returns at once (the watchdog's 10 s and the 3 s stay)
// A warning box is read out on standard error and answered with OK.

#include <QApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QMessageBox>
#include <QProcessEnvironment>
#include <QPushButton>
#include <QSet>
#include <QStackedWidget>
#include <QTableWidget>
#include <QTimer>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <dlfcn.h>
#include <signal.h>
#include <unistd.h>

namespace {

// The updater rebuilds its environment first thing: the driver's settings are
// taken before that.
const QProcessEnvironment launchEnvironment = QProcessEnvironment::systemEnvironment();

QString setting(const char* name)
{
    return launchEnvironment.value(QLatin1String(name));
}

void answer(QMessageBox* box)
{
    if (QAbstractButton* ok = box->button(QMessageBox::Ok)) {
        std::fprintf(stderr, "autopilot: box %s: %s\n", qPrintable(box->windowTitle()),
                     qPrintable(box->text()));
        QMetaObject::invokeMethod(ok, &QAbstractButton::click, Qt::QueuedConnection);
        return;
    }
    const bool backupQuestion = box->text().contains("private data");
    const bool yes = !backupQuestion || setting("AUTOPILOT_BACKUP") != "no";
    if (QAbstractButton* button = box->button(yes ? QMessageBox::Yes : QMessageBox::No))
        QMetaObject::invokeMethod(button, &QAbstractButton::click, Qt::QueuedConnection);
}

// Each button is pressed once at most, as a user who follows one path would.
void press(QWidget* dialog, const char* name)
{
    static QSet<QString> pressed;
    if (pressed.contains(name))
        return;
    if (auto* button = dialog->findChild<QPushButton*>(name); button && button->isEnabled()) {
        pressed.insert(name);
        std::fprintf(stderr, "autopilot: %s\n", name);
        // Queued: a click may open a modal box, and this timer does not fire again
        // while its own call is still running.
        QMetaObject::invokeMethod(button, &QPushButton::click, Qt::QueuedConnection);
    }
}

void selectPackages(QWidget* dialog)
{
    auto* table = dialog->findChild<QTableWidget*>("selectTable");
    for (const QString& row : setting("AUTOPILOT_TICK").split(',', Qt::SkipEmptyParts)) {
        if (QTableWidgetItem* box = table->item(row.toInt(), 0))
            box->setCheckState(Qt::Checked);
    }
    press(dialog, setting("AUTOPILOT_CANCEL") == "select" ? "selectCancel" : "selectUpdate");
}

// Escape and a window close, as a user who wants out would try them.
void tryToLeave(QWidget* dialog)
{
    const QString step = setting("AUTOPILOT_ESCAPE");
    auto* label = dialog->findChild<QLabel*>(step);
    if (label == nullptr || !label->font().bold())
        return;
    std::fprintf(stderr, "autopilot: escape during %s\n", qPrintable(step));
    QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
    QApplication::sendEvent(dialog, &escape);
    dialog->close();
}

void step()
{
    QWidget* dialog = nullptr;
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (!widget->isVisible())
            continue;
        if (auto* box = qobject_cast<QMessageBox*>(widget)) {
            answer(box);
            return;
        }
        if (widget->objectName() == "CMUpdater")
            dialog = widget;
    }
    if (dialog == nullptr)
        return;
    const QString page =
        dialog->findChild<QStackedWidget*>("centerStack")->currentWidget()->objectName();
    if (page == "noticeWStackPage")
        press(dialog, setting("AUTOPILOT_CANCEL") == "notice" ? "noticeCancel" : "noticeNext");
    else if (page == "selectWStackPage")
        selectPackages(dialog);
    else if (page == "updateWStackPage" && !setting("AUTOPILOT_ESCAPE").isEmpty())
        tryToLeave(dialog);
}

void startAutopilot()
{
    // The updater's shell lines need not load the driver, and Qt with it.
    unsetenv("LD_PRELOAD");
    auto* timer = new QTimer(QCoreApplication::instance());
    QObject::connect(timer, &QTimer::timeout, step);
    timer->start(setting("AUTOPILOT_ESCAPE").isEmpty() ? 100 : 10);
}

const char* const killSetting = std::getenv("AUTOPILOT_KILL_AFTER");
const int killAfter = killSetting != nullptr ? std::atoi(killSetting) : 0;
const char* const linesFile = std::getenv("AUTOPILOT_LINES");
const bool noPause = std::getenv("AUTOPILOT_NO_PAUSE") != nullptr;
std::atomic<int> linesRun{0};

} // namespace

extern "C" int system(const char* line)
{
    using System = int (*)(const char*);
    static const auto realSystem = reinterpret_cast<System>(dlsym(RTLD_NEXT, "system"));
    const int status = realSystem(line);
    if (linesFile != nullptr) {
        if (FILE* out = std::fopen(linesFile, "a")) {
            std::fprintf(out, "%s\n", line);
            std::fclose(out);
        }
    }
    if (++linesRun == killAfter) {
        kill(-1, SIGKILL);
        raise(SIGKILL);
    }
    return status;
}

extern "C" int nanosleep(const timespec* request, timespec* remaining)
{
    using Sleep = int (*)(const timespec*, timespec*);
    static const auto realSleep = reinterpret_cast<Sleep>(dlsym(RTLD_NEXT, "nanosleep"));
    if (noPause && request->tv_sec == 5 && request->tv_nsec == 0)
        return 0;
    return realSleep(request, remaining);
}

Q_COREAPP_STARTUP_FUNCTION(startAutopilot)
