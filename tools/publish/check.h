#pragma once

#include <QStringList>

// cmupdater-publish lint [DESCRIPTION]: what the updater reads from a
// description, and every problem found in it.
int lintCommand(const QStringList& arguments);

// cmupdater-publish verify --key PUBLIC [DESCRIPTION]: the signature, the
// freshness and the package files beside the description, as the updater checks them.
int verifyCommand(const QStringList& arguments);

// cmupdater-publish sign --key PRIVATE [DESCRIPTION]: writes DESCRIPTION.sig.
int signCommand(const QStringList& arguments);
