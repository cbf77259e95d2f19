#pragma once

#include "history/recordwords.h"
#include "packages/selectedmodule.h"

#include <QString>

class XmlParser;
struct InstallationIdentity;

// An installation that holds the publisher's keys takes only what they
// signed. One without keys takes what it is given, as it always did, unless
// it was installed from a package ("signed-updates-only" lies beside the
// updater): then it takes nothing until an administrator installs a key.

// The installation's trust files: the keys, the key list, the rule that
// updates must be signed and the newest accepted issue time. No package may
// bring one; only the updater itself changes them.
inline constexpr const char* trustFileNames[] = {"update-key.pem", "trusted-keys.xml",
                                                 "signed-updates-only", "update-issued"};

// At start: one warning line when updates go unverified.
void warnWhenUnverified(const QString& basePath);

// After the version answer, before its flag counts: a newer key list the
// source publishes is taken first (when a trusted key signed it); then the
// description must be signed by a key of the list over the bytes parsed and,
// when it offers a new version, be for this installation's client group,
// fresh, not issued more than a day ahead and not older than one accepted
// before. False (with one warning line naming the reason, and the reason's
// history's reason in reason) when it is refused. A passed new version becomes the
// newest accepted, and its packages that are not later than the installed
// versions are taken back. keyId, when given, gets the id of the key that
// verified it (empty for an installation without keys).
bool acceptDescription(const QString& basePath, XmlParser& parser,
                       const InstallationIdentity& installation, QString* keyId = nullptr,
                       Reason* reason = nullptr);

// After the download, before anything is stopped or unpacked: every chosen
// package must match the SHA-256 the signed description gives it. False (with
// one warning line) when one does not; the downloaded packages are removed then.
bool acceptPackages(const QString& basePath, const XmlParser& parser, SelectedModule module);
