#pragma once

#include <QString>

// True for a name that stays inside the directory it is joined to: not empty,
// not "." or "..", no "/" and no control character.
bool isPlainFileName(const QString& name);
