#pragma once

#include "history/checkrecord.h"

class XmlParser;
struct InstallationIdentity;

// The version check's answer: reads the description the agent left in
// basePath into parser, checks it as the wizard does and takes back what this
// installation must not be offered, or not yet: a release in stages. When
// the outcome is offered, parser holds the packages to offer. The same for
// the window and for "--check".
struct StagesClock {
    qint64 now; // seconds since the epoch
    // A release held back is offered all the same, as early.
    bool early = false;
};
CheckOutcome judgeCheckAnswer(const QString& basePath, XmlParser& parser,
                              const InstallationIdentity& installation, const StagesClock& clock);
