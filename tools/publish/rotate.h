#pragma once

#include <QStringList>

// cmupdater-publish rotate --key PRIVATE --trust PUBLIC [--trust PUBLIC ...]
// --version N --output DIR: writes DIR/Keys.xml, the list of exactly the
// --trust keys at version N, and DIR/Keys.xml.sig, its signature with PRIVATE.
int rotateCommand(const QStringList& arguments);
