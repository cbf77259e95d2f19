#include "app/checkcommand.h"

#include "agent/checkanswer.h"
#include "app/startup.h"
#include "base/globals.h"
#include "delta/softwaredownload.h"
#include "packages/packagesize.h"
#include "packages/xmlparser.h"
#include "trust/descriptionbinding.h"

#include <QCoreApplication>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSemaphore>

#include <cstdio>
#include <cstring>

namespace {

constexpr int upToDateStatus = 0;
constexpr int offeredStatus = 100;
constexpr int failedStatus = 1;
constexpr int answerWaitMs = 10000; // as long as the window's watchdog waits

// The agent's callbacks for a check: only its answer counts.
class CheckAnswer final : public CMUpdaterInterface {
public:
    bool wait() { return answered.tryAcquire(1, answerWaitMs); }

private:
    void HaveNewVsersion() override { answered.release(); }
    void SetNowDownloadStatus(CheckVersionState) override {}
    void DownloadFinished(bool) override {}
    void DownloadProcess(char*, int) override {}

    QSemaphore answered;
};

// One offered package, as the selection page would list it.
struct Offer {
    const char* kind;
    QString from;
    QString to;
    QString size;
    Download download;
};

// What the selection page would list for one package: a delta when one fits
// the tree kept here.
Offer offer(const char* kind, const KeptTrees& trees, const QString& installed,
            const XmlParser& parser, const PackageInfo& package)
{
    PackageDownload download(trees);
    download.choose(BASE_PATH, parser.doc, package);
    return {kind, installed, package.version, download.package(package).size,
            download.usesDelta() ? Download::Delta : Download::Full};
}

QList<Offer> offers(const XmlParser& parser, const InstallationIdentity& installation)
{
    QList<Offer> found;
    if (!parser.software.filename.isEmpty())
        found.append(offer("software", softwareTrees, installation.softwareVersion, parser,
                           parser.software));
    if (!parser.firmware.filename.isEmpty())
        found.append(offer("firmware", firmwareTrees, installation.firmwareVersion, parser,
                           parser.firmware));
    return found;
}

void printText(const CheckOutcome& outcome, const QList<Offer>& offered)
{
    if (outcome.result == Result::UpToDate)
        std::printf("up to date\n");
    else if (outcome.result != Result::Offered)
        std::printf("%s: %s\n", word(outcome.result), word(outcome.reason));
    for (const Offer& offer : offered)
        std::printf("%s %s -> %s, %s KB, %s\n", offer.kind, qPrintable(offer.from),
                    qPrintable(offer.to), qPrintable(sizeInKilobytes(offer.size)),
                    word(offer.download));
}

void printJson(const CheckOutcome& outcome, const QList<Offer>& offered)
{
    QJsonArray packages;
    for (const Offer& offer : offered)
        packages.append(QJsonObject{{"kind", offer.kind},
                                    {"from", offer.from},
                                    {"to", offer.to},
                                    {"bytes", offer.size.toLongLong()},
                                    {"download", word(offer.download)}});
    const QJsonObject document{
        {"result", word(outcome.result)}, {"reason", word(outcome.reason)}, {"packages", packages}};
    std::printf(
        "%s\n",
        escapedJson(QJsonDocument(document).toJson(QJsonDocument::Indented)).trimmed().constData());
}

CheckOutcome askAgent(XmlParser& parser, const InstallationIdentity& installation)
{
    // Both outlive the wait: a late answer still finds them.
    static CheckAnswer answer;
    static QByteArray configPath = (BASE_PATH + QLatin1String("/UpdateCfg.ini")).toLocal8Bit();
    RegisterCMUpdaterInterface(&answer);
    UpdateAgentInterface* agent = GetUpdateAgentInterface();
    if (agent == nullptr || !agent->SetFilePath(configPath.data()) || !agent->Init() ||
        !agent->Update(updateInfo.mode, updateInfo.client) || !answer.wait())
        return {Result::CheckFailed, Reason::NoAnswer};
    return judgeCheckAnswer(BASE_PATH, parser, installation);
}

int statusOf(const CheckOutcome& outcome)
{
    if (outcome.result == Result::UpToDate)
        return upToDateStatus;
    return outcome.result == Result::Offered ? offeredStatus : failedStatus;
}

} // namespace

int runCheckCommand(int argc, char** argv)
{
    const bool json = argc > 2 && std::strcmp(argv[2], "--json") == 0;
    if (argc > (json ? 3 : 2)) {
        std::fprintf(stderr, "usage: cmupdater --check [--json]\n");
        return 2;
    }
    const QCoreApplication core(argc, argv);
    if (already_running() != 0) {
        std::fprintf(stderr, "cmupdater --check: another updater is running\n");
        return failedStatus;
    }
    BASE_PATH = QCoreApplication::applicationDirPath();
    const Settings settings = readSettings();
    const QDateTime started = QDateTime::currentDateTimeUtc();
    const InstallationIdentity installation{QString::fromLocal8Bit(settings.clientGroup),
                                            QString::fromLocal8Bit(settings.softwareVersion),
                                            QString::fromLocal8Bit(settings.firmwareVersion)};
    XmlParser parser;
    CheckOutcome outcome{Result::CheckFailed, Reason::IncompleteIdentity};
    if (identityComplete(settings)) {
        fillUpdateInfo(settings);
        outcome = askAgent(parser, installation);
    }
    recordCheck(BASE_PATH, outcome, started);
    const QList<Offer> offered =
        outcome.result == Result::Offered ? offers(parser, installation) : QList<Offer>();
    // The answer is the check's alone: the next run asks again.
    for (const char* name : {"/Description.xml", "/Description.xml.sig"})
        QFile::remove(BASE_PATH + QLatin1String(name));
    json ? printJson(outcome, offered) : printText(outcome, offered);
    return statusOf(outcome);
}
