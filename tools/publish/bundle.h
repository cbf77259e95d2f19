#pragma once

#include <QStringList>

// cmupdater-publish bundle [--key PUBLIC] DESCRIPTION --output DIR: the signed
// release DESCRIPTION belongs to (the key list and the description with their
// signatures, the packages and the deltas it names) copied into the new
// folder DIR, for a stick that installations update from. The copies are
// checked as verify checks a release; DIR appears whole or not at all.
int bundleCommand(const QStringList& arguments);
