#include "app/startup.h"

#include "base/processend.h"
#include "session/updatesession.h"
#include "software/connectionmanager.h"
#include "software/recovery.h"
#include "trust/updatetrust.h"
#include "wizard/cmupdater.h"

#include <QApplication>
#include <QByteArray>
#include <QLibraryInfo>
#include <QRegularExpression>
#include <QStringList>
#include <QTranslator>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <optional>
#include <syslog.h>
#include <unistd.h>

QApplication* app = nullptr;

namespace {

constexpr char lockFilePath[] = "/var/run/updateDaemon.pid";
constexpr int configPathRoom = 255; // the agent's settings-path buffer, terminator excluded

[[noreturn]] void lockFailure(const char* format)
{
    syslog(LOG_ERR, format, lockFilePath, std::strerror(errno));
    terminateProcess(1);
}

// Qt ends a process whose display it cannot open with an abort and advice to
// reinstall; the updater ends with one line and status 2 instead.
constexpr int noDisplayStatus = 2;

[[noreturn]] void noDisplay()
{
    std::fprintf(stderr,
                 "cmupdater: no display to show the window on (DISPLAY=\"%s\"); "
                 "--check, --history and --recover need none\n",
                 qgetenv("DISPLAY").constData());
    terminateProcess(noDisplayStatus);
}

QtMessageHandler displayHandler = nullptr;

// While the application is made: the platform's complaints are held back
// until it is clear whether a display was found.
QStringList heldMessages;

void holdPlatformMessages(QtMsgType type, const QMessageLogContext& context, const QString& text)
{
    if (type == QtFatalMsg)
        noDisplay();
    if (QByteArray(context.category).startsWith("qt.qpa"))
        heldMessages << text;
    else if (displayHandler != nullptr)
        displayHandler(type, context, text);
}

std::unique_ptr<QApplication> makeApplication(int& argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        noDisplay();
    displayHandler = qInstallMessageHandler(holdPlatformMessages);
    auto application = std::make_unique<QApplication>(argc, argv);
    qInstallMessageHandler(displayHandler);
    for (const QString& text : std::as_const(heldMessages))
        qWarning("%s", qPrintable(text));
    return application;
}

} // namespace

std::optional<Installation> loadOwnInstallation(const char* command)
{
    const QString basePath = QCoreApplication::applicationDirPath();
    if ((basePath + QLatin1String("/UpdateCfg.ini")).toLocal8Bit().size() > configPathRoom) {
        std::fprintf(stderr, "%s: the installation path is too long: %s\n", command,
                     basePath.toLocal8Bit().constData());
        return std::nullopt;
    }
    return Installation::load(basePath);
}

void printReport(const Installation& installation)
{
    const Settings& s = installation.settings;
    for (const QByteArray* value : {&s.device, &s.softwareVersion, &s.firmwareVersion, &s.imei,
                                    &s.clientGroup, &s.language, &s.deviceReady})
        std::printf("%s\r\n", value->constData());
}

int already_running()
{
    const int fd = open(lockFilePath, O_RDWR | O_CREAT, 0644);
    if (fd < 0)
        lockFailure("can't open %s: %s");
    struct flock lock {};
    lock.l_type = F_WRLCK;
    lock.l_whence = SEEK_SET;
    if (fcntl(fd, F_SETLK, &lock) < 0) {
        if (errno == EAGAIN || errno == EACCES) {
            close(fd);
            return 1;
        }
        lockFailure("can't lock %s: %s");
    }
    char pid[16];
    const int length = std::snprintf(pid, sizeof pid, "%ld", static_cast<long>(getpid()));
    // The digits and their terminating NUL: readers of this file expect both.
    if (ftruncate(fd, 0) != 0 || write(fd, pid, static_cast<size_t>(length) + 1) < 0)
        syslog(LOG_ERR, "can't write %s: %s", lockFilePath, std::strerror(errno));
    return 0;
}

bool installTranslation(const QString& basePath, const QByteArray& language)
{
    static const QRegularExpression localeName(QStringLiteral("^[A-Za-z]{2,3}(_[A-Za-z]{2})?$"));
    if (!localeName.match(QString::fromLatin1(language)).hasMatch())
        return false;
    auto* translator = new QTranslator(QCoreApplication::instance());
    if (!translator->load(QLatin1String("cmupdater_") + QString::fromLatin1(language),
                          basePath + QLatin1String("/translations"))) {
        delete translator;
        return false;
    }
    // The toolkit's own texts too, such as the Yes and No of the question boxes.
    auto* toolkit = new QTranslator(QCoreApplication::instance());
    if (toolkit->load(QLatin1String("qtbase_") + QString::fromLatin1(language),
                      QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QCoreApplication::installTranslator(toolkit);
    return QCoreApplication::installTranslator(translator);
}

int runUpdater(int argc, char** argv, std::optional<FolderOrigin> folder)
{
    if (already_running() != 0)
        return 0;
    const std::unique_ptr<QApplication> application = makeApplication(argc, argv);
    app = application.get();
    const std::optional<Installation> installation = loadOwnInstallation("cmupdater");
    if (!installation)
        return 1;
    warnWhenUnverified(installation->BASE_PATH);
    // Before the watchdog: putting files back must not count against the
    // agent's ten seconds. A recovery that changed anything ends the run; the
    // connection manager it started again starts the updater anew.
    ConnectionManager manager(installation->BASE_PATH, installation->CM_NAME, installation->WVDIAL);
    // A journal not trusted stays for an administrator; the run goes on.
    if (const RecoveryOutcome outcome =
            recoverInterruptedInstall(installation->BASE_PATH, installation->CM_NAME, manager,
                                      false, installation->HOOK_TIME);
        outcome && *outcome != InstallTransaction::Recovery::Refused) {
        qWarning("%s", recoveryText(outcome));
        return 0;
    }

    UpdateSession session(*installation, std::move(folder));
    session.startWatchdog();
    printReport(*installation);
    if (!installation->identityComplete())
        terminateProcess(0);
    // The request goes out first; the window is built while it is under way.
    session.startCheck();
    installTranslation(installation->BASE_PATH, installation->settings.language);
    QApplication::setStyle(QStringLiteral("cde"));
    CMUpdater dialog(session, nullptr, "CMUpdater", true, Qt::CustomizeWindowHint);
    // The agent's thread may still be in a callback and the watchdog asleep:
    // the process ends here, before the session goes.
    terminateProcess(QApplication::exec());
}
