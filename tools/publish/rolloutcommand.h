#pragma once

#include "trust/rollout.h"

#include <QStringList>

// cmupdater-publish rollout --pause | --resume | --steps STEPS | --critical
// DESCRIPTION --key KEY: changes the description's rollout, issues it anew
// and signs it.
int rolloutCommand(const QStringList& arguments);

struct RolloutOptions {
    QString change; // --pause, --resume, --steps or --critical
    QList<RolloutStep> steps;
    QString description;
    QString key;
};

// The change made, said, and signed; 0 or the failure's exit status.
int changeRollout(const RolloutOptions& options);
