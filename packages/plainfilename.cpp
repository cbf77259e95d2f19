#include "packages/plainfilename.h"

#include <QList>

#include <algorithm>

namespace {

bool isPlainCharacter(char32_t c)
{
    return c != U'/' && QChar::category(c) != QChar::Other_Control && !QChar::isNonCharacter(c);
}

} // namespace

bool isPlainFileName(const QString& name)
{
    if (name.isEmpty() || name == QLatin1String(".") || name == QLatin1String(".."))
        return false;
    // The selection file carries the name as UTF-8; one that comes back
    // different would have the agent fetch another file than the one looked for.
    if (QString::fromUtf8(name.toUtf8()) != name)
        return false;
    const QList<uint> characters = name.toUcs4();
    return std::all_of(characters.begin(), characters.end(), isPlainCharacter);
}
