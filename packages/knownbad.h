#pragma once

#include "packages/selectedmodule.h"

#include <QString>

class QDomDocument;
class XmlParser;
struct PackageInfo;

// Packages that failed on this machine (rolled back because the new
// version did not keep running, or refused after their download), remembered
// by their bytes so that the same package is never offered here again, while
// a package with other bytes, even of the same version, still is. One
// "sha256:HEX" or "md5:HEX" per line, the newest last.
inline constexpr char knownBadFileName[] = "known-bad-packages";
inline constexpr int knownBadLimit = 64;

// The package's identity: its SHA-256 from the description, else its MD5,
// lowercase with the kind in front; empty when it has no usable digest.
QString packageDigest(const QDomDocument& doc, const PackageInfo& package);

bool isKnownBad(const QString& basePath, const QString& digest);

// Adds digest, synced to disk; the oldest entries go beyond the limit.
bool rememberKnownBad(const QString& basePath, const QString& digest);

// Takes back each package known to be bad here, with one warning line each; a
// description left with nothing offers no new version. The packages taken back.
SelectedModule withdrawKnownBad(const QString& basePath, XmlParser& parser);
