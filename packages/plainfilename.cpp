#include "packages/plainfilename.h"

#include <QList>

#include <algorithm>

namespace {

// Tools read * ? [ ] as a pattern and \ as its escape even in a quoted
// shell word (unzip takes its archive argument as a pattern), so a name with
// them could name another file than the one checked.
bool isPatternCharacter(char32_t c)
{
    return c == U'*' || c == U'?' || c == U'[' || c == U']' || c == U'\\';
}

bool isPlainCharacter(char32_t c)
{
    return c != U'/' && !isPatternCharacter(c) && QChar::category(c) != QChar::Other_Control &&
           !QChar::isNonCharacter(c);
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

bool isPlainNameBytes(const QByteArray& name)
{
    if (name.isEmpty() || name == "." || name == "..")
        return false;
    return std::none_of(name.begin(), name.end(), [](char c) {
        const auto byte = static_cast<unsigned char>(c);
        return byte == '/' || byte < 0x20 || byte == 0x7f || isPatternCharacter(byte);
    });
}
