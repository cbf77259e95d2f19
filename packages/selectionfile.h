#pragma once

#include "packages/selectedmodule.h"
#include "packages/xmlparser.h"

#include <QByteArray>

// The selection document for the chosen packages, the server block and the
// mirrors of the description, one line without a line break; any value other
// than firmware or software alone means both. software and firmware are the records of the
// package entries (a delta's in place of its package's).
QByteArray composeSelection(const XmlParser& description, SelectedModule module,
                            const PackageInfo& software, const PackageInfo& firmware);

// Replaces basePath + "/UserSelection.xml" with composeSelection's document
// for the description's own package records. When the file can neither be
// replaced nor rewritten in place the earlier one stays and nothing is reported.
void writeSelectionFile(const QString& basePath, const XmlParser& description,
                        SelectedModule module);
// The same with other records for the package entries (a delta's).
void writeSelectionFile(const QString& basePath, const XmlParser& description,
                        SelectedModule module, const PackageInfo& software,
                        const PackageInfo& firmware);
