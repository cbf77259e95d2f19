// Runs the updater's software install on generated packages, and the baseline
// of unpacking and copying the same tree by hand.
//   install-driver prepare WORK FILES   a package of FILES files under WORK, half
//                                       of them replacing files of the installation
//   install-driver updater WORK         UpdateDispatcher::updateSW on a fresh copy
//   install-driver baseline WORK        unzip -q, then cp -r, on a fresh copy
//   install-driver offline WORK         the whole end of the download
//                                       (UpdateDispatcher::downloadFinished):
//                                       connection manager killed to restarted
// A run prints its wall time in milliseconds; the updater's run adds the shell
// lines it ran, by command, with their count and time.

#include "base/shell.h"
#include "software/packagecheck.h"
#include "software/packagefiles.h"
#include "software/softwareupdate.h"
#include "software/updateview.h"

#include <QDir>
#include <QFile>
#include <QMap>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

// The install alone: no watch of the restarted manager.
Installation unwatched(const QString& base)
{
    Installation installation = Installation::at(base);
    installation.HEALTH_TIME = std::chrono::seconds(0);
    return installation;
}

using Clock = std::chrono::steady_clock;

constexpr int FilesPerDirectory = 100;
constexpr int FileBytes = 2048;
const char* const PackageName = "sw.zip";

double millisecondsSince(Clock::time_point start)
{
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

class SilentView final : public UpdateView {
public:
    void setProgress(int) override {}
    void appendLine(const char*) override {}
    void appendLineOnce(const char*, const QString&) override {}
    void markStep(UpdateStep) override {}
    void unmarkStep(UpdateStep) override {}
    void hideDialog() override {}
    void showWarning(const QList<const char*>&) override {}
    void endEventLoop(int) override {}
};

// Runs each line with system(), as the updater's own runner does, and adds up
// the count and time per command ("cp -r", "mkdir -p", ...).
class TimingRunner final : public ShellRunner {
public:
    struct Tally {
        int count = 0;
        double milliseconds = 0;
    };

    int run(const QString& line) override
    {
        const Clock::time_point start = Clock::now();
        if (tallies.isEmpty())
            firstLine = start;
        const int status = std::system(line.toLocal8Bit().constData());
        Tally& tally = tallies[command(line)];
        ++tally.count;
        tally.milliseconds += millisecondsSince(start);
        return status;
    }

    QMap<QString, Tally> tallies;
    Clock::time_point firstLine;

private:
    static QString command(const QString& line)
    {
        const QStringList words = line.split(' ', Qt::SkipEmptyParts);
        if (words.size() > 1 && words[1].startsWith('-'))
            return words[0] + ' ' + words[1];
        return words.value(0);
    }
};

bool shell(const QString& line)
{
    return std::system(line.toLocal8Bit().constData()) == 0;
}

bool writeFile(const QString& path, const QByteArray& content)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(content) == content.size();
}

QString packageFile(int index)
{
    return QString::asprintf("d%03d/f%05d.dat", index / FilesPerDirectory, index);
}

QByteArray content(const char* version, int index)
{
    QByteArray bytes = QByteArray(version) + ' ' + QByteArray::number(index) + '\n';
    return bytes.leftJustified(FileBytes, 'x');
}

// The package holds files 0..count-1; the installation has the even ones in an
// older version, its executable, private data and files the package leaves alone.
bool prepare(const QString& work, int count)
{
    const QString tree = work + "/tree";
    const QString installed = work + "/installed";
    bool ok = shell("rm -rf " + shellQuote(work)) && QDir().mkpath(tree);
    for (int index = 0; ok && index < count; ++index) {
        ok = writeFile(tree + '/' + packageFile(index), content("new", index)) &&
             (index % 2 != 0 ||
              writeFile(installed + '/' + packageFile(index), content("old", index)));
    }
    for (const char* name : {"Data/contact.xml", "Data/sms.xml", "keep/readme.txt"})
        ok = ok && writeFile(installed + '/' + name, name);
    return ok && QFile::copy("/bin/true", installed + "/Kestrel") &&
           shell("cd " + shellQuote(tree) + " && zip -q -r ../" + PackageName + " .");
}

// Every run starts from the same installation with the package beside it, and
// with the file system's pending writes done, so that none of an earlier run's
// work falls into this one's time.
QString freshInstallation(const QString& work)
{
    const QString inst = work + "/inst";
    const bool ok = shell("rm -rf " + shellQuote(inst)) &&
                    shell("cp -a " + shellQuote(work + "/installed") + ' ' + shellQuote(inst)) &&
                    QFile::copy(work + '/' + PackageName, inst + '/' + PackageName) &&
                    shell("sync -f " + shellQuote(inst));
    return ok ? inst : QString();
}

int runUpdater(const QString& inst)
{
    TimingRunner runner;
    setShellRunner(&runner);
    SilentView view;
    PackageFiles files(inst);
    UpdateDispatcher dispatcher(unwatched(inst), files, view, [] { return true; });
    const Clock::time_point start = Clock::now();
    const bool installed = dispatcher.updateSW(PackageName, true);
    const double total = millisecondsSince(start);
    setShellRunner(nullptr);

    std::printf("ms=%.1f installed=%d", total, installed ? 1 : 0);
    for (auto tally = runner.tallies.cbegin(); tally != runner.tallies.cend(); ++tally)
        std::printf(" [%s]=%d/%.1f", qPrintable(tally.key()), tally->count, tally->milliseconds);
    std::printf("\n");
    return installed ? 0 : 1;
}

// From the first line (the connection manager's kill) to its restart, with the
// dispatcher's real pause for the modem.
int runOffline(const QString& inst)
{
    // As the wizard does, before anything is stopped and so outside the
    // window: the package is checked and unpacked.
    if (unpackBeforeStop(inst, PackageName).refused())
        return 1;
    TimingRunner runner;
    setShellRunner(&runner);
    SilentView view;
    PackageFiles files(inst);
    UpdateDispatcher dispatcher(unwatched(inst), files, view, [] { return true; });
    Clock::time_point restarted;
    dispatcher.setProcessStarter([&restarted](const QString&, const QString&) {
        restarted = Clock::now();
        return true;
    });
    dispatcher.setTreeSource([&inst](PackageFiles& packageFiles, const QString&) {
        return adoptUnpackedPackage(inst, packageFiles);
    });
    dispatcher.downloadFinished({SELECTED_SOFTWARE, true, "RX481", PackageName});
    setShellRunner(nullptr);
    const bool ok = restarted > runner.firstLine;
    std::printf("offline_ms=%.1f restarted=%d\n",
                std::chrono::duration<double, std::milli>(restarted - runner.firstLine).count(),
                ok ? 1 : 0);
    return ok ? 0 : 1;
}

int runBaseline(const QString& inst)
{
    const QString package = shellQuote(inst + '/' + PackageName);
    const QString download = shellQuote(inst + "/download");
    const Clock::time_point start = Clock::now();
    const bool ok = shell("unzip -q " + package + " -d " + download + " && cp -r " + download +
                          "/* " + shellQuote(inst));
    std::printf("ms=%.1f\n", millisecondsSince(start));
    return ok ? 0 : 1;
}

int usage(const char* program)
{
    std::fprintf(stderr,
                 "usage: %s prepare WORK FILES | updater WORK | baseline WORK | offline WORK\n",
                 program);
    return 2;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 3)
        return usage(argv[0]);
    const std::string mode = argv[1];
    const QString work = QDir(QString::fromLocal8Bit(argv[2])).absolutePath();
    if (mode == "prepare" && argc == 4)
        return prepare(work, std::atoi(argv[3])) ? 0 : 1;
    if (argc != 3 || (mode != "updater" && mode != "baseline" && mode != "offline"))
        return usage(argv[0]);
    const QString inst = freshInstallation(work);
    if (inst.isEmpty())
        return 1;
    if (mode == "offline")
        return runOffline(inst);
    return mode == "updater" ? runUpdater(inst) : runBaseline(inst);
}
