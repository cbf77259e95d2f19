#pragma once

#include <QByteArray>
#include <QString>

// Why a description with these times is not signed: issued more than a day
// ahead of the clock, which the updater refuses, or valid for longer than 90
// days after it is issued, which would let a stolen copy be replayed for that
// long. Empty when the times may be signed.
QString timesRefusal(qint64 issued, qint64 expires);

// The same for the times in a description's bytes, which must also not have
// expired and must name the client group a keyed installation compares; a
// description that offers no new version carries none and passes.
QString signingRefusal(const QByteArray& description);
