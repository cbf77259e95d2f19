#include "firmware/firmwareupdate.h"

#include "base/globals.h"
#include "bkserial.h"
#include "delta/softwaredownload.h"
#include "firmware/firmwareimage.h"
#include "firmware/statustexts.h"
#include "lib6246.h"
#include "packages/plainfilename.h"
#include "packages/xmlparser.h"
#include "software/installedtrees.h"
#include "software/packagefiles.h"
#include "wizard/cmupdater.h"
#include "wizard/guithread.h"

#include <QApplication>
#include <QListWidget>
#include <QProgressBar>
#include <QThread>

#include <cstring>
#include <memory>

namespace {

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
    return mainWindow->getPDLData(data);
}

int CMUpdater::getPDLData(_PDLData* data)
{
    const int progress = data->progress;
    const char* status = firmwareStatusText(data->status);
    onGuiThread([this, progress, status] {
        updateProgressBar->setValue(progress);
        if (status == nullptr)
            return;
        const QString line = tr(status);
        if (updateListbox->findItems(line, Qt::MatchFixedString).isEmpty())
            addStatusLine(line);
    });
    processEventsWhereLegal();
    return 0;
}

bool CMUpdater::updateFW()
{
    auto info = std::make_unique<_DOWNLOAD_INFO>();
    const QString& filename = xmlParser->firmware.filename;
    const QString downloadDir = BASE_PATH + QLatin1String("/download");
    const QByteArray imageDir = downloadDir.toLocal8Bit();
    // A package name from the server must stay inside the installation, and the
    // library's directory field must hold the whole path.
    if (!isPlainFileName(filename) || imageDir.size() >= int(sizeof info->imageDir))
        return refuseFirmware();
    packageFiles->del(downloadDir);
    // A tree rebuilt from a delta has had every file checked already.
    const bool unpacked = firmwareDownload.rebuilt()
                              ? adoptRebuiltTree(BASE_PATH, *packageFiles, firmwareTrees)
                              : packageFiles->unzip(BASE_PATH + QLatin1Char('/') + filename);
    // A damaged package or one without a file must not reach the modem: it
    // would flash a corrupt image or nothing at all.
    if (!unpacked || !holdsFlashableFile(*packageFiles, downloadDir)) {
        packageFiles->del(downloadDir);
        return refuseFirmware();
    }
    std::memcpy(info->imageDir, imageDir.constData(), static_cast<size_t>(imageDir.size()) + 1);
    info->option = 0;

    _IDownloadEvent events{::getPDLData, Open, Close, IsOpen, ReadData, SendData, ReadDataWaiting};
    const bool flashed = setIde(info.get(), &events);
    // Only an image the modem reported whole is the base of the next delta.
    if (flashed)
        keepFlashedTree(BASE_PATH);
    packageFiles->del(downloadDir);
    // The event loop is not asked to end here: its end ends the process, and the
    // dispatcher may still have the software to install. It ends the loop itself.
    return flashed;
}

bool CMUpdater::refuseFirmware()
{
    reportFirmwareSkipped(*this);
    return false;
}
