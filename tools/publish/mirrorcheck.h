#pragma once

#include <QStringList>

class XmlParser;

// The problems of the description's mirrors: a base the updater would not
// use, and every package or delta file that a mirror does not serve with the
// size and digest the description gives. Each mirror is asked over the
// network for every file, which it sends whole.
void mirrorProblems(const XmlParser& parser, QStringList& problems);
