#pragma once

#include <QStringList>

// cmupdater-publish rollout --pause | --resume | --steps STEPS | --critical
// DESCRIPTION --key KEY: changes the description's rollout, issues it anew
// and signs it.
int rolloutCommand(const QStringList& arguments);
