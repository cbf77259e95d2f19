#pragma once

#include "history/checkrecord.h"

#include <QStringList>

// A line of a face in the window's words: an untranslated source text and
// the arguments it takes, in order.
struct NoticeLine {
    const char* text;
    QStringList arguments;
};

// What a check held back adds to the "no new version" notice: that the
// release comes in stages, and when this computer's turn is expected.
NoticeLine heldBackLine(const HeldBack& held);
