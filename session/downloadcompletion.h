#pragma once

#include "delta/softwaredownload.h"
#include "packages/selectedmodule.h"
#include "software/softwareupdate.h"

#include <QString>

#include <functional>

class XmlParser;

// What follows a download the agent reported whole.
enum class DownloadAnswer {
    Proceed,          // every chosen package is here and checked
    Refused,          // a package or a delta did not pass its checks
    PackageBroken,    // the software package would not install
    FirmwareBroken,   // the firmware package would not flash
    NoRoom,           // the software package is good, the disk too full to unpack it
    UnpackFailed,     // the software package read well but did not unpack
    DownloadingAgain, // a delta did not fit: its full package is on its way
};

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

    DownloadAnswer finish(SelectedModule chosen);

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
    // Proceed, or why not.
    DownloadAnswer softwareUnpacked(bool chosen) const;

    QString basePath;
    const XmlParser& parser;
    PackageDownload& software;
    PackageDownload& firmware;
    SetTreeSource setTreeSource;
    DownloadAgain downloadAgain;
};
