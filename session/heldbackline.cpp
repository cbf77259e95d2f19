#include "session/heldbackline.h"

#include <QCoreApplication>

NoticeLine heldBackLine(const HeldBack& held)
{
    if (held.paused)
        return {
            QT_TRANSLATE_NOOP("CMUpdater", "%1 is being released in stages; the release is paused"),
            {held.release}};
    if (!held.percent || !held.from)
        return {QT_TRANSLATE_NOOP("CMUpdater", "%1 is being released in stages; this computer's "
                                               "turn is not planned yet"),
                {held.release}};
    // The user's own clock: the time is for a person to plan by.
    return {QT_TRANSLATE_NOOP("CMUpdater", "%1 is being released in stages; this computer's turn "
                                           "comes at %2 %, expected from %3"),
            {held.release, QString::number(*held.percent),
             held.from->toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm"))}};
}
