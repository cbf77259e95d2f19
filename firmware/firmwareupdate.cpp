#include "firmware/firmwareupdate.h"

#include "bkserial.h"
#include "firmware/firmwareimage.h"
#include "firmware/statustexts.h"
#include "lib6246.h"
#include "packages/plainfilename.h"
#include "software/installedtrees.h"
#include "software/packagefiles.h"
#include "software/updateview.h"

#include <QCoreApplication>
#include <QThread>

#include <cstring>
#include <memory>
#include <utility>

namespace {

// The library's callback carries no context: the step under way is kept here
// for the length of one flash, on the thread that flashes.
FirmwareStep* flashing = nullptr;

// Pending events may only be processed on the GUI thread; on the agent's thread
// the GUI keeps running on its own.
void processEventsWhereLegal()
{
    const QCoreApplication* application = QCoreApplication::instance();
    if (application != nullptr && QThread::currentThread() == application->thread())
        QCoreApplication::processEvents();
}

} // namespace

int getPDLData(_PDLData* data)
{
    processEventsWhereLegal();
    return flashing != nullptr ? flashing->report(*data) : 0;
}

FirmwareStep::FirmwareStep(QString basePath, PackageFiles& files, UpdateView& view)
    : basePath(std::move(basePath)), files(files), view(view)
{
}

int FirmwareStep::report(const _PDLData& data)
{
    view.setProgress(data.progress);
    if (const char* status = firmwareStatusText(data.status))
        view.appendLineOnce(status);
    processEventsWhereLegal();
    return 0;
}

bool FirmwareStep::flash(const QString& filename, bool rebuilt)
{
    auto info = std::make_unique<_DOWNLOAD_INFO>();
    const QString downloadDir = basePath + QLatin1String("/download");
    const QByteArray imageDir = downloadDir.toLocal8Bit();
    // A package name from the server must stay inside the installation, and the
    // library's directory field must hold the whole path.
    if (!isPlainFileName(filename) || imageDir.size() >= int(sizeof info->imageDir))
        return refuse();
    files.del(downloadDir);
    // A tree rebuilt from a delta has had every file checked already.
    const bool unpacked = rebuilt ? adoptRebuiltTree(basePath, files, firmwareTrees)
                                  : files.unzip(basePath + QLatin1Char('/') + filename);
    // A damaged package or one without a file must not reach the modem: it
    // would flash a corrupt image or nothing at all.
    if (!unpacked || !holdsFlashableFile(files, downloadDir)) {
        files.del(downloadDir);
        return refuse();
    }
    std::memcpy(info->imageDir, imageDir.constData(), static_cast<size_t>(imageDir.size()) + 1);
    info->option = 0;

    _IDownloadEvent events{::getPDLData, Open, Close, IsOpen, ReadData, SendData, ReadDataWaiting};
    flashing = this;
    const bool flashed = setIde(info.get(), &events);
    flashing = nullptr;
    // Only an image the modem reported whole is the base of the next delta.
    if (flashed)
        keepFlashedTree(basePath);
    files.del(downloadDir);
    // The event loop is not asked to end here: its end ends the process, and the
    // dispatcher may still have the software to install. It ends the loop itself.
    return flashed;
}

bool FirmwareStep::refuse()
{
    reportFirmwareSkipped(view);
    return false;
}
