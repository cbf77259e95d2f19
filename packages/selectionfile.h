#pragma once

#include "packages/selectedmodule.h"
#include "packages/xmlparser.h"

#include <QByteArray>

// The selection document for the chosen packages and the server block of the
// description, one line without a line break; any value other than firmware or
// software alone means both. software is the record of the software entry.
QByteArray composeSelection(const XmlParser& description, SelectedModule module,
                            const PackageInfo& software);

// Replaces BASE_PATH + "/UserSelection.xml" with composeSelection's document
// for the description's own software record. When the file can neither be
// replaced nor rewritten in place the earlier one stays and nothing is reported.
void writeSelectionFile(const XmlParser& description, SelectedModule module);
// The same with another record for the software entry (a delta's).
void writeSelectionFile(const XmlParser& description, SelectedModule module,
                        const PackageInfo& software);
