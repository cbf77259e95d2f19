#include "app/startup.h"

#include "base/globals.h"
#include "base/processend.h"
#include "packages/plainfilename.h"
#include "profile.h"
#include "software/connectionmanager.h"
#include "software/healthwatch.h"
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
#include <optional>
#include <syslog.h>
#include <unistd.h>
#include <vector>

QApplication* app = nullptr;

namespace {

constexpr char lockFilePath[] = "/var/run/updateDaemon.pid";
constexpr int configPathRoom = 255; // the agent's settings-path buffer, terminator excluded

[[noreturn]] void lockFailure(const char* format)
{
    syslog(LOG_ERR, format, lockFilePath, std::strerror(errno));
    terminateProcess(1);
}

QByteArray readSetting(const char* section, const char* key, int size, const char* fallback)
{
    const QByteArray file = (BASE_PATH + QLatin1String("/UpdateCfg.ini")).toLocal8Bit();
    std::vector<char> buffer(static_cast<size_t>(size), '\0');
    read_profile_string(section, key, buffer.data(), size, fallback, file.constData());
    return QByteArray(buffer.data());
}

// The seven lines the parent reads, byte for byte as the settings hold them.
void printReport(const Settings& s)
{
    for (const QByteArray* value : {&s.device, &s.softwareVersion, &s.firmwareVersion, &s.imei,
                                    &s.clientGroup, &s.language, &s.deviceReady})
        std::printf("%s\r\n", value->constData());
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

QApplication* makeApplication(int& argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        noDisplay();
    displayHandler = qInstallMessageHandler(holdPlatformMessages);
    auto* application = new QApplication(argc, argv);
    qInstallMessageHandler(displayHandler);
    for (const QString& text : std::as_const(heldMessages))
        qWarning("%s", qPrintable(text));
    return application;
}

bool configPathFits()
{
    return (BASE_PATH + QLatin1String("/UpdateCfg.ini")).toLocal8Bit().size() <= configPathRoom;
}

} // namespace

Settings readSettings()
{
    Settings s;
    s.cmName = readSetting("UPDATE", "CM_NAME", 80, "Kestrel");
    // The name is killed, made set-user-id and started as root.
    if (!isPlainExecutableName(QString::fromLocal8Bit(s.cmName))) {
        qWarning("CM_NAME refused: not a plain program name");
        s.cmName.clear();
    }
    s.appPath = readSetting("Service", "APP_PATH", 256, "/opt/Kestrel");
    s.device = readSetting("UPDATE", "DEVICE", 80, "RX481");
    s.softwareVersion = readSetting("UPDATE", "SOFTWARE_VERSION", 80, "");
    s.firmwareVersion = readSetting("UPDATE", "FIRMWARE_VERSION", 16, "");
    s.imei = readSetting("UPDATE", "IMEI_ID", 16, "");
    s.clientGroup = readSetting("UPDATE", "CLINT_GROUP", 80, "");
    s.language = readSetting("UPDATE", "LANGUAGE_TYPE", 15, "en_US");
    s.deviceReady = readSetting("UPDATE", "DeviceReady", 10, "1");
    s.wvdial = readSetting("UPDATE", "WVDIAL", 20, "0");
    return s;
}

std::chrono::seconds readHookTime()
{
    return hookTimeSetting(readSetting("UPDATE", "HOOK_TIME", 16, "300"));
}

bool identityComplete(const Settings& s)
{
    return !(s.softwareVersion.isEmpty() && s.firmwareVersion.isEmpty()) && !s.imei.isEmpty() &&
           !s.clientGroup.isEmpty();
}

void fillUpdateInfo(const Settings& s)
{
    updateInfo.kind = 1;
    updateInfo.mode = UPDATE_MODE_MANUAL;
    _CLIENT_INFO& client = updateInfo.client;
    _CLIENT_INFO::copyField(client.os, "linux");
    _CLIENT_INFO::copyField(client.device, s.device.constData());
    _CLIENT_INFO::copyField(client.softwareVersion, s.softwareVersion.constData());
    _CLIENT_INFO::copyField(client.firmwareVersion, s.firmwareVersion.constData());
    _CLIENT_INFO::copyField(client.imei, s.imei.constData());
    _CLIENT_INFO::copyField(client.clientGroup, s.clientGroup.constData());
    _CLIENT_INFO::copyField(client.language, s.language.constData());
    updateInfo.deviceReady = s.deviceReady == "1";
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

bool installTranslation(const QByteArray& language)
{
    static const QRegularExpression localeName(QStringLiteral("^[A-Za-z]{2,3}(_[A-Za-z]{2})?$"));
    if (!localeName.match(QString::fromLatin1(language)).hasMatch())
        return false;
    auto* translator = new QTranslator(QCoreApplication::instance());
    if (!translator->load(QLatin1String("cmupdater_") + QString::fromLatin1(language),
                          BASE_PATH + QLatin1String("/translations"))) {
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

int runUpdater(int argc, char** argv)
{
    if (already_running() != 0)
        return 0;
    app = makeApplication(argc, argv);
    QApplication::setStyle(QStringLiteral("cde"));
    BASE_PATH = QApplication::applicationDirPath();
    if (!configPathFits()) {
        std::fprintf(stderr, "cmupdater: the installation path is too long: %s\n",
                     BASE_PATH.toLocal8Bit().constData());
        return 1;
    }
    const Settings settings = readSettings();
    CM_NAME = QString::fromLocal8Bit(settings.cmName);
    CM_PATH = QString::fromLocal8Bit(settings.appPath);
    DEVICE = QString::fromLocal8Bit(settings.device);
    WVDIAL = QString::fromLocal8Bit(settings.wvdial);
    SOFTWARE_VERSION = QString::fromLocal8Bit(settings.softwareVersion);
    FIRMWARE_VERSION = QString::fromLocal8Bit(settings.firmwareVersion);
    HEALTH_TIME = healthTimeSetting(readSetting("UPDATE", "HEALTH_TIME", 16, "30"));
    HOOK_TIME = readHookTime();
    installTranslation(settings.language);
    warnWhenUnverified(BASE_PATH);
    // Before the dialog and its watchdog: putting files back must not count
    // against the agent's ten seconds. A recovery that changed anything ends
    // the run; the connection manager it started again starts the updater anew.
    ConnectionManager manager(BASE_PATH, CM_NAME, WVDIAL);
    // A journal not trusted stays for an administrator; the run goes on.
    if (const RecoveryOutcome outcome =
            recoverInterruptedInstall(BASE_PATH, CM_NAME, manager, false, HOOK_TIME);
        outcome && *outcome != InstallTransaction::Recovery::Refused) {
        qWarning("%s", recoveryText(outcome));
        return 0;
    }

    mainWindow = CMUpdater::getUpdater();
    mainWindow->startWatchdog();
    printReport(settings);
    if (!identityComplete(settings))
        terminateProcess(0);
    fillUpdateInfo(settings);
    mainWindow->getDesc();
    return QApplication::exec();
}
