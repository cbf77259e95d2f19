#include "base/secondssetting.h"

#include <QtGlobal>

std::chrono::seconds secondsSetting(const char* key, const QByteArray& text, int minimum,
                                    int maximum, int fallback)
{
    bool number = !text.isEmpty();
    for (const char c : text)
        number = number && c >= '0' && c <= '9';
    const int seconds = number && text.size() <= 9 ? text.toInt() : -1;
    if (seconds < minimum || seconds > maximum) {
        qWarning("%s: \"%s\" is not a number of seconds from %d to %d, %d is used", key,
                 text.constData(), minimum, maximum, fallback);
        return std::chrono::seconds(fallback);
    }
    return std::chrono::seconds(seconds);
}
