#include "Diagnostics.h"

#include <QtGlobal>

namespace updateagent {

void warn(const QString& message)
{
    // Messages quote names from the network; control characters could drive a terminal.
    QString printable = message;
    for (QChar& c : printable) {
        if (c.category() == QChar::Other_Control)
            c = u'?';
    }
    qWarning("updateagent: %s", qUtf8Printable(printable));
}

} // namespace updateagent
