#pragma once

#include <QString>
#include <QStringList>

// Why an installation could not order this version after the ones given in
// previous (each of which it must follow); empty when it can. option names
// where the version came from.
QString versionRefusal(const QString& option, const QString& version, const QStringList& previous);

// Why a PriorityFlag or a URL base has the wrong form; empty when it has the right one.
QString priorityRefusal(const QString& priority);
QString urlBaseRefusal(const QString& base);

// Why a mirror's URL base is none the updater fails over to: only http and
// https with a host, no query, fragment or control character; empty when it is.
QString mirrorRefusal(const QString& base);
