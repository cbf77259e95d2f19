#pragma once

#include <QDomDocument>
#include <QString>

// The mirror that served a downloaded package, as the agent noted it beside
// the package: the mirror's base from the signed description, without a user
// name or password; empty when the package's own URL served it or the note
// names no mirror of the description. The note is removed once read.
QString servingMirror(const QString& basePath, const QString& fileName,
                      const QDomDocument& description);
