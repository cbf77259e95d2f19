#pragma once

#include "packages/selectedmodule.h"
#include "packages/xmlparser.h"

// Replaces BASE_PATH + "/UserSelection.xml" with the chosen packages and the
// server block of the description; any value other than firmware or software
// alone means both. When the file can neither be replaced nor rewritten in place
// the earlier one stays and nothing is reported.
void writeSelectionFile(const XmlParser& description, SelectedModule module);
// The same with other records for the package entries (a delta's).
void writeSelectionFile(const XmlParser& description, SelectedModule module,
                        const PackageInfo& software, const PackageInfo& firmware);
