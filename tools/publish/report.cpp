#include "report.h"

#include <cstdio>

void fail(const QString& message)
{
    std::fprintf(stderr, "cmupdater-publish: %s\n", qPrintable(message));
}

void note(const QString& message)
{
    std::fprintf(stderr, "cmupdater-publish: note: %s\n", qPrintable(message));
}

void warn(const QString& message)
{
    std::fprintf(stderr, "cmupdater-publish: warning: %s\n", qPrintable(message));
}

void say(const QString& line)
{
    std::printf("%s\n", line.toLocal8Bit().constData());
}

void reportWritten(const QString& path, qint64 bytes)
{
    say(QStringLiteral("wrote %1 (%2 bytes)").arg(path).arg(bytes));
}
