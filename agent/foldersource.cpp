#include "agent/foldersource.h"

#include "agent/foldercopy.h"
#include "base/syncdirectory.h"
#include "delta/deltaoffer.h"
#include "history/recordwords.h"
#include "packages/plainfilename.h"
#include "packages/xmlparser.h"

#include <QDir>
#include <QDomDocument>
#include <QFile>
#include <QSaveFile>

#include <cstdio>
#include <string_view>
#include <sys/stat.h>

namespace {

struct ReleaseFile {
    const char* name;
    qint64 maxBytes;
};

// The agent's own bounds: a key list or a description is a few kilobytes, a
// signature 64 bytes (a little more still reaches the check, which then calls
// it a bad one). The key list comes first, as the agent fetches it.
constexpr std::string_view descriptionName = "Description.xml";
constexpr ReleaseFile releaseFiles[] = {{"Keys.xml", 64 * 1024},
                                        {"Keys.xml.sig", 4096},
                                        {descriptionName.data(), 64 * 1024},
                                        {"Description.xml.sig", 4096}};
// A modem's firmware or its connection manager is a few megabytes: a larger
// file is not one of them, and would only fill the installation's disk.
constexpr qint64 maxPackageBytes = qint64(256) << 20;
constexpr qint64 maxSelectionBytes = 64 * 1024;

// The files "UserSelection.xml" names, in its order.
QStringList selectedFiles(const QString& selectionPath)
{
    QFile file(selectionPath);
    QDomDocument selection;
    if (!file.open(QIODevice::ReadOnly) || !selection.setContent(file.read(maxSelectionBytes)))
        return {};
    QStringList names;
    const QDomNodeList entries = selection.elementsByTagName(QStringLiteral("UpdateFile"));
    for (int i = 0; i < entries.size(); ++i)
        names << entries.at(i).toElement().attribute(QStringLiteral("Filename"));
    return names;
}

} // namespace

FolderSource::FolderSource(AgentListener& listener, QString basePath, FolderOrigin origin)
    : listener(listener), basePath(std::move(basePath)), origin(std::move(origin)),
      worker([this] { runJobs(); })
{
}

FolderSource::~FolderSource()
{
    {
        const std::lock_guard lock(mutex);
        closing = true;
    }
    wake.notify_all();
    worker.join();
}

void FolderSource::post(std::function<void()> job)
{
    {
        const std::lock_guard lock(mutex);
        jobs.push_back(std::move(job));
    }
    wake.notify_all();
}

// One job after the other, on the source's own thread, as the agent calls back.
void FolderSource::runJobs()
{
    for (;;) {
        std::function<void()> job;
        {
            std::unique_lock lock(mutex);
            wake.wait(lock, [this] { return closing || !jobs.empty(); });
            if (jobs.empty())
                return;
            job = std::move(jobs.front());
            jobs.pop_front();
        }
        job();
    }
}

bool FolderSource::Update(_UpdateMode, _CLIENT_INFO)
{
    post([this] {
        copyRelease();
        listener.HaveNewVersion();
    });
    return true;
}

bool FolderSource::Download()
{
    post([this] { listener.DownloadFinished(handOver()); });
    return true;
}

FolderCopy::Outcome FolderSource::take(const QString& name, const QString& target,
                                       qint64 maxBytes) const
{
    const FolderCopy copy = copyFromFolder(origin.path, origin.caller, name, target, maxBytes);
    if (copy.outcome == FolderCopy::Outcome::Refused)
        qWarning("%s in %s refused: %s", qUtf8Printable(name), qUtf8Printable(origin.path),
                 qUtf8Printable(copy.refusal));
    return copy.outcome;
}

void FolderSource::copyRelease()
{
    // What an earlier answer left must not pass for this folder's.
    for (const ReleaseFile& file : releaseFiles)
        QFile::remove(basePath + '/' + file.name);
    // The word a check leaves for why it found no description.
    const QString failedPath = basePath + QStringLiteral("/Description.xml.failed");
    QFile::remove(failedPath);
    removeCopies();
    for (const ReleaseFile& file : releaseFiles) {
        const FolderCopy::Outcome outcome =
            take(QLatin1String(file.name), basePath + '/' + file.name, file.maxBytes);
        // A folder without a description holds no release; no server was out of reach.
        if (outcome == FolderCopy::Outcome::Absent && file.name == descriptionName) {
            QSaveFile failed(failedPath);
            if (failed.open(QIODevice::WriteOnly) && failed.write(word(Reason::NoDescription)) > 0)
                failed.commit();
        }
    }
    copyNamedFiles();
}

void FolderSource::copyNamedFiles()
{
    // Read from the copy before any check: the names only say what to copy.
    XmlParser parser;
    parser.setFile(basePath + QStringLiteral("/Description.xml"));
    parser.get();
    const QStringList names = namedPackageFiles(parser);
    if (names.isEmpty() || ::mkdir(QFile::encodeName(copiesPath()).constData(), 0700) != 0)
        return;
    for (const QString& name : names) {
        if (isPlainFileName(name))
            take(name, copiesPath() + '/' + name, maxPackageBytes);
    }
}

bool FolderSource::handOver()
{
    const QStringList names = selectedFiles(basePath + QStringLiteral("/UserSelection.xml"));
    if (names.isEmpty()) {
        qWarning("no usable selection in %s", qUtf8Printable(basePath));
        return false;
    }
    for (const QString& name : names) {
        listener.DownloadProcess(name, 0);
        // A rename within the installation: the bytes stay those copied.
        if (!isPlainFileName(name) ||
            std::rename(QFile::encodeName(copiesPath() + '/' + name).constData(),
                        QFile::encodeName(basePath + '/' + name).constData()) != 0) {
            qWarning("%s is not in %s", qUtf8Printable(name), qUtf8Printable(origin.path));
            return false;
        }
        listener.DownloadProcess(name, 100);
    }
    return syncDirectory(basePath);
}

void FolderSource::removeCopies() const
{
    QDir(copiesPath()).removeRecursively();
}
