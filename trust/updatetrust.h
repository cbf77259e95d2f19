#pragma once

#include "packages/selectedmodule.h"

#include <QString>

class XmlParser;
struct InstallationIdentity;

// An installation that holds the publisher's public key takes only what the
// key's owner signed; one without it takes what it is given, as it always did.

QString updateKeyPath(const QString& basePath);

// At start: one warning line when updates go unverified.
void warnWhenUnverified(const QString& basePath);

// After the version answer, before its flag counts: the description must be
// signed by the key over the bytes parsed and, when it offers a new version,
// be for this installation's client group, fresh, not issued more than a day
// ahead and not older than one accepted before. False (with one warning line
// naming the reason, and the reason's short code in reason) when it is
// refused. A passed new version becomes the newest accepted, and its packages
// that are not later than the installed versions are taken back.
bool acceptDescription(const QString& basePath, XmlParser& parser,
                       const InstallationIdentity& installation, QString* reason = nullptr);

// After the download, before anything is stopped or unpacked: every chosen
// package must match the SHA-256 the signed description gives it. False (with
// one warning line) when one does not; the downloaded packages are removed then.
bool acceptPackages(const QString& basePath, const XmlParser& parser, SelectedModule module);
