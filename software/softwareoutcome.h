#pragma once

#include "history/recordwords.h"

#include <optional>

// How the software step ended: one value that the box text, the history, the
// in-progress marker, the restart of the connection manager, the watch and the
// kept package tree each follow.
struct SoftwareOutcome {
    enum class Kind {
        NotRun,            // no software package was chosen
        Installed,         // the new version is in place
        InstalledWatched,  // in place, and must show that it runs before its backup goes
        RolledBack,        // the previous version is back
        RestoreIncomplete, // not everything is back: the backup waits for the next start
        Refused,           // the package is unfit; nothing of the installation changed
        Failed,            // the package could not be prepared; nothing changed
    };

    Kind kind = Kind::NotRun;
    // Why, for the history. An installed version whose private data wait for
    // the next start says PrivateDataPending, watched or not.
    Reason reason = Reason::None;
    // The connection manager's executable may be started afterwards.
    bool managerIntact = true;

    bool installed() const { return kind == Kind::Installed || kind == Kind::InstalledWatched; }
    bool privateDataPending() const { return reason == Reason::PrivateDataPending; }
    // The new version and the private data are in place.
    bool complete() const { return installed() && !privateDataPending(); }
    bool watchDue() const { return kind == Kind::InstalledWatched; }
    // The in-progress marker stays, so the next start finishes the roll-back.
    bool keepsMarker() const { return kind == Kind::RestoreIncomplete; }
    // The step's outcome in the history; nullopt when the step did not run.
    std::optional<Result> recorded() const;
    // What the closing box says about the step, untranslated; nullptr when
    // there is nothing to say.
    const char* boxText() const;
    // The connection manager comes back once the marker is gone, or when the
    // next start is left to finish; never with a broken executable.
    bool restartsManager(bool markerRemoved) const;
};

// An install that reached the copy of the package: installed when the copy
// ran, restored when the previous version is whole again, dataBack when the
// private data are in place.
SoftwareOutcome copiedOutcome(bool installed, bool restored, bool dataBack, bool watched,
                              bool managerIntact);

// How the download ended.
enum class DownloadOutcome {
    Downloaded,
    Failed,         // the agent reported a failure
    Cancelled,      // the user stopped it
    Refused,        // a package did not pass its checks
    PackageBroken,  // the software package would not install; found before anything stopped
    FirmwareBroken, // the firmware package would not flash; found before anything stopped
    NoRoom,         // no room to unpack the software package before the stop
    UnpackFailed,   // the whole software package read well but did not unpack
};
