#pragma once

#include "history/checkrecord.h"

class XmlParser;
struct InstallationIdentity;

// The version check's answer: reads the description the agent left in
// basePath into parser, checks it as the wizard does and takes back what this
// installation must not be offered. When the outcome is offered, parser
// holds the packages to offer. The same for the window and for "--check".
CheckOutcome judgeCheckAnswer(const QString& basePath, XmlParser& parser,
                              const InstallationIdentity& installation);
