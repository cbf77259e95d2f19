#include "history/recordwords.h"

const char* word(Result result)
{
    switch (result) {
    case Result::Installed:
        return "installed";
    case Result::RolledBack:
        return "rolled-back";
    case Result::Failed:
        return "failed";
    case Result::Refused:
        return "refused";
    case Result::Cancelled:
        return "cancelled";
    case Result::Recovered:
        return "recovered";
    case Result::UpToDate:
        return "up-to-date";
    case Result::Offered:
        return "offered";
    case Result::HeldBack:
        return "held-back";
    case Result::CheckFailed:
        break;
    }
    return "check-failed";
}

const char* word(Reason reason)
{
    switch (reason) {
    case Reason::None:
        return "";
    case Reason::DownloadFailed:
        return "download-failed";
    case Reason::PackageUnverified:
        return "package-unverified";
    case Reason::PackageBroken:
        return "package-broken";
    case Reason::UserCancelled:
        return "user-cancelled";
    case Reason::DiskFull:
        return "disk-full";
    case Reason::InvalidPackage:
        return "invalid-package";
    case Reason::RestorePending:
        return "restore-pending";
    case Reason::UnpackFailed:
        return "unpack-failed";
    case Reason::PackageRefused:
        return "package-refused";
    case Reason::BackupFailed:
        return "backup-failed";
    case Reason::CopyFailed:
        return "copy-failed";
    case Reason::DidNotStart:
        return "did-not-start";
    case Reason::PrivateDataPending:
        return "private-data-pending";
    case Reason::RestoreIncomplete:
        return "restore-incomplete";
    case Reason::OtherDevice:
        return "other-device";
    case Reason::FlashFailed:
        return "flash-failed";
    case Reason::InterruptedRolledBack:
        return "interrupted-rolled-back";
    case Reason::InterruptedCompleted:
        return "interrupted-completed";
    case Reason::InterruptedCleanedUp:
        return "interrupted-cleaned-up";
    case Reason::UntrustedJournal:
        return "untrusted-journal";
    case Reason::ServerUnreachable:
        return "server-unreachable";
    case Reason::ProxyFailed:
        return "proxy-failed";
    case Reason::Stalled:
        return "stalled";
    case Reason::NoAnswer:
        return "no-answer";
    case Reason::NoDescription:
        return "no-description";
    case Reason::FailedStatus:
        return "failed-status";
    case Reason::NoKey:
        return "no-key";
    case Reason::BadKeyList:
        return "bad-key-list";
    case Reason::NoUpdateKey:
        return "no-update-key";
    case Reason::NoSignature:
        return "no-signature";
    case Reason::BadSignature:
        return "bad-signature";
    case Reason::Expired:
        return "expired";
    case Reason::NotYetValid:
        return "not-yet-valid";
    case Reason::Replayed:
        return "replayed";
    case Reason::MalformedTime:
        return "malformed-time";
    case Reason::WrongGroup:
        return "wrong-group";
    case Reason::NotNewer:
        return "not-newer";
    case Reason::KnownBad:
        return "known-bad";
    case Reason::IncompleteIdentity:
        return "incomplete-identity";
    case Reason::Refused:
        break;
    }
    return "refused";
}

const char* word(Download download)
{
    switch (download) {
    case Download::None:
        return "";
    case Download::Full:
        return "full";
    case Download::Delta:
        break;
    }
    return "delta";
}
