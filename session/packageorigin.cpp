#include "session/packageorigin.h"

#include "packages/descriptionfields.h"
#include "packages/plainfilename.h"

#include <QFile>

namespace {

// A mirror's position in the list, a number of at most a few digits.
constexpr qint64 maxNoteBytes = 8;

} // namespace

QString servingMirror(const QString& basePath, const QString& fileName,
                      const QDomDocument& description)
{
    if (!isPlainFileName(fileName))
        return {};
    QFile note(basePath + '/' + fileName + QStringLiteral(".source"));
    if (!note.open(QIODevice::ReadOnly))
        return {};
    bool number = false;
    const int position = note.read(maxNoteBytes).trimmed().toInt(&number);
    note.remove();
    const QStringList mirrors = mirrorBases(description);
    if (!number || position < 1 || position > mirrors.size())
        return {};
    return shownMirror(mirrors[position - 1]);
}
