#pragma once

#include "delta/softwaredownload.h"
#include "packages/selectedmodule.h"
#include "software/softwareupdate.h"

#include <QString>

#include <functional>
#include <optional>

class XmlParser;

// Checks a finished download before anything is stopped: the packages that
// came whole against the signed description, a delta rebuilt into its tree (or
// dropped for the full package, which is downloaded again), the whole software
// package unpacked. Free of the dialog: what it needs is handed in.
class DownloadCompletion final {
public:
    // Tells the software step where its tree comes from.
    using SetTreeSource = std::function<void(UpdateDispatcher::TreeSource)>;
    // Has the agent download the packages in again (firmware, software or both)
    // once more, whole.
    using DownloadAgain = std::function<void(SelectedModule again)>;

    DownloadCompletion(QString basePath, const XmlParser& parser, PackageDownload& software,
                       PackageDownload& firmware, SetTreeSource setTreeSource,
                       DownloadAgain downloadAgain);

    // How the download ended, for the update steps; nullopt while the full
    // package of a delta that did not fit is on its way.
    std::optional<DownloadOutcome> finish(SelectedModule chosen);

private:
    enum class Rebuild { Done, Refused, FallBack };

    // The chosen packages that came whole pass the package check.
    bool wholePackagesAccepted(bool software, bool firmware) const;
    Rebuild rebuilt(PackageDownload& download, const PackageInfo& offered) const;
    // A software tree rebuilt from its delta is held to the install's rules
    // as an unpacked package is; false, the tree gone, when refused.
    bool rebuiltTreeInstallable() const;
    // The firmware package that came whole reads whole and holds an image;
    // false when the flash would refuse it.
    bool firmwareFlashable(bool chosen) const;
    // The full software package is checked and unpacked before the stop;
    // Downloaded, or why not.
    DownloadOutcome softwareUnpacked(bool chosen) const;

    QString basePath;
    const XmlParser& parser;
    PackageDownload& software;
    PackageDownload& firmware;
    SetTreeSource setTreeSource;
    DownloadAgain downloadAgain;
};
