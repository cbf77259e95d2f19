#pragma once

// How a run, one of its steps, a check or a recovery ended.
enum class Result {
    Installed,
    RolledBack,
    Failed,
    Refused,
    Cancelled,
    Recovered,
    // Only a version check ends like these.
    UpToDate,
    Offered,
    HeldBack,
    CheckFailed,
};

// Why a run or a check did not simply succeed; None when it did.
enum class Reason {
    None,
    // A run's download.
    DownloadFailed,
    PackageUnverified,
    PackageBroken,
    UserCancelled,
    DiskFull,
    // A run's software step.
    InvalidPackage,
    RestorePending,
    UnpackFailed,
    PackageRefused,
    BackupFailed,
    CopyFailed,
    DidNotStart,
    PrivateDataPending,
    RestoreIncomplete,
    // A run's firmware step.
    OtherDevice,
    FlashFailed,
    // A recovery at start.
    InterruptedRolledBack,
    InterruptedCompleted,
    InterruptedCleanedUp,
    UntrustedJournal,
    // A version check.
    ServerUnreachable,
    ProxyFailed,
    Stalled,
    NoAnswer,
    NoDescription,
    FailedStatus,
    NoKey,
    BadKeyList,
    NoUpdateKey,
    NoSignature,
    BadSignature,
    Expired,
    NotYetValid,
    Replayed,
    MalformedTime,
    WrongGroup,
    NotNewer,
    KnownBad,
    IncompleteIdentity,
    // A description refused for a cause without a code of its own.
    Refused,
};

// What came over the link for a chosen package.
enum class Download { None, Full, Delta };

// The words the history, the last check's line and "--check" store and print.
// They are read by people and scripts: they never change.
const char* word(Result result);
const char* word(Reason reason);
const char* word(Download download); // empty for None
