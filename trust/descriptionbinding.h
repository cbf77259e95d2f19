#pragma once

#include <QString>

#include <optional>

class XmlParser;

// What a signed description must match to be meant for this installation.
struct InstallationIdentity {
    QString clientGroup;     // CLINT_GROUP
    QString softwareVersion; // SOFTWARE_VERSION
    QString firmwareVersion; // FIRMWARE_VERSION
};

// Whether offered is a later version than installed. Both are ordered when
// each is dotted decimal numbers after the same non-digit prefix ("V1.10" is
// after "V1.9", "2.0" equals "2"); versions that cannot be ordered so count
// as later when they differ at all.
bool isNewerVersion(const QString& offered, const QString& installed);

// Negative, zero or positive as a is before, equal to or after b; nullopt
// when the two cannot be ordered so (isNewerVersion then only sees a difference).
std::optional<int> compareVersions(const QString& a, const QString& b);

// Why the description is meant for another installation; empty when it is not.
QString bindingRefusal(const XmlParser& parser, const InstallationIdentity& installation);

// Takes back every package whose version is not later than the installed one,
// so that it is not offered; a description left with none offers no new version.
void withdrawStalePackages(XmlParser& parser, const InstallationIdentity& installation);
