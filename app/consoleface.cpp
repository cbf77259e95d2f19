#include "app/consoleface.h"

#include "session/heldbackline.h"
#include "session/updatesession.h"

#include <QCoreApplication>
#include <QMetaObject>

#include <cstdio>
#include <unistd.h>

QString consoleText(const char* text, const QStringList& arguments)
{
    QString line = QCoreApplication::translate("CMUpdater", text);
    for (const QString& argument : arguments)
        line = line.arg(argument);
    return line;
}

QString heldBackText(const HeldBack& held)
{
    const NoticeLine line = heldBackLine(held);
    return consoleText(line.text, line.arguments);
}

int runOnCommandLine(UpdateSession& session, ConsoleFace& face)
{
    session.attach(face);
    UpdateSession::Timing timing;
    timing.checkEndPause = std::chrono::milliseconds(0);
    timing.finalPause = std::chrono::milliseconds(0);
    session.setTiming(timing);
    session.setProcessEnd([](int) {});
    session.startWatchdog();
    session.startCheck();
    return QCoreApplication::exec();
}

void ConsoleFace::quit(int code)
{
    QMetaObject::invokeMethod(
        QCoreApplication::instance(), [code] { QCoreApplication::exit(code); },
        Qt::QueuedConnection);
}

void ConsoleFace::checkAnswered(const CheckReport& answer)
{
    keep(answer);
    if (answer.outcome.result == Result::Offered)
        quit(0);
}

void ConsoleFace::keep(const CheckReport& answer)
{
    const std::lock_guard lock(mutex);
    report = answer;
}

std::optional<CheckReport> ConsoleFace::answer() const
{
    const std::lock_guard lock(mutex);
    return report;
}

void ConsoleFace::printLine(const QString& line)
{
    if (!showRun)
        return;
    const std::lock_guard lock(mutex);
    endProgressLine();
    std::printf("%s\n", qUtf8Printable(line));
    std::fflush(stdout);
}

void ConsoleFace::endProgressLine()
{
    if (progressOpen)
        std::printf("\n");
    progressOpen = false;
}

void ConsoleFace::setProgress(int percent, const QString& text)
{
    if (!showRun)
        return;
    const std::lock_guard lock(mutex);
    const QString line = text.contains(QLatin1String("%p"))
                             ? QString(text).replace(QLatin1String("%p"), QString::number(percent))
                             : text;
    if (::isatty(STDOUT_FILENO) == 1) {
        // One line, rewritten in place; the escape clears what a longer one left.
        std::printf("\r%s\033[K", qUtf8Printable(line));
        progressOpen = percent < 100;
        if (!progressOpen)
            std::printf("\n");
    } else if (percent / 10 != lastTenth) {
        std::printf("%s\n", qUtf8Printable(line));
    }
    lastTenth = percent >= 100 ? -1 : percent / 10;
    std::fflush(stdout);
}

void ConsoleFace::appendLine(const char* text, const QStringList& arguments)
{
    printLine(consoleText(text, arguments));
}

void ConsoleFace::appendLineOnce(const char* text, const QString& scope)
{
    {
        const std::lock_guard lock(mutex);
        const QString key = scope + QLatin1Char('\n') + QLatin1String(text);
        if (linesOnce.contains(key) ||
            (scope.isEmpty() && linesOnce.contains(QLatin1String("\n") + text)))
            return;
        linesOnce.insert(key);
    }
    printLine(consoleText(text));
}

void ConsoleFace::markStep(UpdateStep step)
{
    static const char* const labels[] = {
        QT_TRANSLATE_NOOP("CMUpdater", "1.Download packages"),
        QT_TRANSLATE_NOOP("CMUpdater", "2.Update firmware"),
        QT_TRANSLATE_NOOP("CMUpdater", "3.Update software"),
        QT_TRANSLATE_NOOP("CMUpdater", "4.Update end"),
    };
    printLine(consoleText(labels[int(step)]));
}

void ConsoleFace::showWarning(const QList<const char*>& texts)
{
    for (const char* text : texts)
        std::fprintf(stderr, "warning: %s\n", qUtf8Printable(consoleText(text)));
}

void ConsoleFace::endEventLoop(int code)
{
    quit(code);
}
