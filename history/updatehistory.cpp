#include "history/updatehistory.h"

#include "base/nofollowfile.h"
#include "base/syncdirectory.h"

#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>
#include <QStringList>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Characters that are escaped although JSON allows them raw. Those below
// 0x20 are always escaped inside a string; outside one they are whitespace.
bool needsEscape(char16_t c)
{
    return (c >= 0x7f && c <= 0x9f) || c == 0x061c || c == 0x200e || c == 0x200f ||
           (c >= 0x2028 && c <= 0x202e) || (c >= 0x2066 && c <= 0x2069);
}

QByteArray jsonString(const QString& value)
{
    // An array of one string is the shortest way to Qt's string escaping.
    const QByteArray array = QJsonDocument(QJsonArray{value}).toJson(QJsonDocument::Compact);
    return escapedJson(array.mid(1, array.size() - 2));
}

QByteArray jsonWord(const char* word)
{
    return jsonString(QLatin1String(word));
}

QByteArray jsonTime(const QDateTime& time)
{
    return jsonString(time.toUTC().toString(Qt::ISODate));
}

QByteArray jsonModule(const std::optional<ModuleRecord>& module)
{
    if (!module)
        return "null";
    QByteArray json = "{\"from\":" + jsonString(module->from) +
                      ",\"to\":" + jsonString(module->to) +
                      ",\"outcome\":" + jsonWord(word(module->outcome));
    if (module->download != Download::None)
        json += ",\"download\":" + jsonWord(word(module->download));
    if (!module->source.isEmpty())
        json += ",\"source\":" + jsonString(module->source);
    return json + '}';
}

// The history is the updater's own file: a link or anything else in its
// place is not followed, read or replaced.
bool usableFile(const QByteArray& path, bool* exists)
{
    struct stat info {};
    *exists = ::lstat(path.constData(), &info) == 0;
    return !*exists || S_ISREG(info.st_mode);
}

// The end of the history file as a reader sees it.
struct HistoryTail {
    QList<QByteArray> lines; // complete lines, oldest first, at most the limit
    bool cutOff = false;     // the last line has no line feed: a power cut
    bool earlier = false;    // lines before these, left unread or beyond the limit
};

// Reads at most historyReadLimit bytes from the end: a file grown by anyone to
// gigabytes costs no more than one of the size the updater writes.
HistoryTail readTail(const QString& path, int limit)
{
    HistoryTail tail;
    const QByteArray encoded = QFile::encodeName(path);
    bool exists = false;
    QFile file;
    if (!usableFile(encoded, &exists) || !exists || !openRegularFileNoFollow(file, path))
        return tail;
    const qint64 start = qMax<qint64>(0, file.size() - historyReadLimit);
    if (!file.seek(start))
        return tail;
    const QByteArray content = file.read(historyReadLimit);
    tail.cutOff = !content.isEmpty() && !content.endsWith('\n');
    tail.lines = content.split('\n');
    tail.lines.removeLast(); // empty, or the line cut off
    if (start > 0 && !tail.lines.isEmpty())
        tail.lines.removeFirst(); // begins inside a record
    tail.lines.removeAll(QByteArray());
    tail.earlier = start > 0 || tail.lines.size() > limit;
    if (tail.lines.size() > limit)
        tail.lines = tail.lines.mid(tail.lines.size() - limit);
    return tail;
}

bool writeAll(int fd, const QByteArray& data)
{
    for (qsizetype done = 0; done < data.size();) {
        const ssize_t written = ::write(fd, data.constData() + done, size_t(data.size() - done));
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return false;
        done += written;
    }
    return true;
}

bool appendLine(const QByteArray& path, const QByteArray& line)
{
    const int fd =
        ::open(path.constData(), O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (fd < 0)
        return false;
    const bool written = writeAll(fd, line) && ::fsync(fd) == 0;
    ::close(fd);
    return written;
}

// Readers see the old file or the new one, never a mixture.
bool rewrite(const QString& path, const QList<QByteArray>& kept, const QByteArray& line)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    for (const QByteArray& old : kept)
        file.write(old + '\n');
    file.write(line);
    return ::fsync(file.handle()) == 0 && file.commit();
}

// What makes two records the same outcome: all but when and how often.
QJsonObject outcomeOf(QJsonObject record)
{
    for (const char* key : {"started", "ended", "count", "bytes"})
        record.remove(QLatin1String(key));
    return record;
}

// The record folded into last when it repeats last's outcome; nullopt when it
// is a record of its own.
std::optional<HistoryRecord> folded(const QByteArray& last, const HistoryRecord& record)
{
    const bool event = record.result == Result::Installed || record.result == Result::RolledBack ||
                       record.result == Result::Recovered;
    const QJsonObject previous = QJsonDocument::fromJson(last).object();
    if (event ||
        outcomeOf(previous) != outcomeOf(QJsonDocument::fromJson(record.toJson()).object()))
        return std::nullopt;
    HistoryRecord merged = record;
    const QDateTime first =
        QDateTime::fromString(previous.value("started").toString(), Qt::ISODate);
    if (first.isValid())
        merged.started = first;
    merged.count = qMax(1, previous.value("count").toInt(1)) + 1;
    return merged;
}

QString lastCheckPath(const QString& basePath)
{
    return basePath + '/' + QLatin1String(lastCheckFileName);
}

// Values come from settings and descriptions: nothing may steer the terminal.
// A value longer than its column is cut, and says so with a "~".
QString cell(const QString& text, int width)
{
    QString shown = text;
    for (QChar& c : shown) {
        if (!c.isPrint() || needsEscape(c.unicode()))
            c = QLatin1Char('?');
    }
    if (shown.size() > width)
        shown = shown.left(width - 1) + QLatin1Char('~');
    return shown.leftJustified(width);
}

// "2026-12-08T10:00:00Z" as "2026-12-08 10:00".
QString shortTime(const QString& iso)
{
    const QDateTime time = QDateTime::fromString(iso, Qt::ISODate);
    return time.isValid() ? time.toUTC().toString(QStringLiteral("yyyy-MM-dd HH:mm")) : iso;
}

QString moduleCell(const QJsonValue& value)
{
    if (!value.isObject())
        return QStringLiteral("-");
    const QJsonObject module = value.toObject();
    const QString download = module.value("download").toString();
    return module.value("from").toString() + "->" + module.value("to").toString() +
           (download == QLatin1String(word(Download::Delta)) ? QStringLiteral(" delta")
                                                             : QString());
}

void printRow(std::FILE* out, const QStringList& cells)
{
    std::fprintf(out, "%s\n", cells.join(QLatin1String("  ")).trimmed().toUtf8().constData());
}

void printLastCheck(const QString& basePath, std::FILE* out)
{
    QFile file;
    if (!openRegularFileNoFollow(file, lastCheckPath(basePath)))
        return;
    const QJsonObject check = QJsonDocument::fromJson(file.read(4096)).object();
    if (check.isEmpty())
        return;
    const QString reason = check.value("reason").toString();
    printRow(out, {"last check: " + cell(shortTime(check.value("checked").toString()), 16),
                   cell(check.value("result").toString(), 12) +
                       (reason.isEmpty() ? QString() : ' ' + cell(reason, 24))});
}

void printJson(const QList<QByteArray>& lines, std::FILE* out)
{
    std::fprintf(out, "[");
    const char* separator = "\n";
    for (const QByteArray& line : lines) {
        const QJsonDocument record = QJsonDocument::fromJson(line);
        if (!record.isObject())
            continue;
        std::fprintf(out, "%s  %s", separator,
                     escapedJson(record.toJson(QJsonDocument::Compact)).constData());
        separator = ",\n";
    }
    std::fprintf(out, "\n]\n");
}

void printTable(const QString& basePath, const QList<QByteArray>& lines, std::FILE* out)
{
    printLastCheck(basePath, out);
    // 16 + 12 + 18 + 16 + 12 + 5 + 9 and two spaces between each: 100 columns.
    printRow(out, {cell("ENDED", 16), cell("RESULT", 12), cell("REASON", 18), cell("SOFTWARE", 16),
                   cell("FIRMWARE", 12), cell("COUNT", 5), "BYTES"});
    for (const QByteArray& line : lines) {
        const QJsonObject record = QJsonDocument::fromJson(line).object();
        if (record.isEmpty())
            continue;
        printRow(out, {cell(shortTime(record.value("ended").toString()), 16),
                       cell(record.value("result").toString(), 12),
                       cell(record.value("reason").toString(), 18),
                       cell(moduleCell(record.value("software")), 16),
                       cell(moduleCell(record.value("firmware")), 12),
                       cell(QString::number(record.value("count").toInt(1)), 5),
                       cell(QString::number(record.value("bytes").toInteger()), 9)});
    }
}

} // namespace

QByteArray HistoryRecord::toJson() const
{
    QByteArray json =
        "{\"started\":" + jsonTime(started) + ",\"ended\":" + jsonTime(ended) +
        ",\"result\":" + jsonWord(word(result)) + ",\"reason\":" + jsonWord(word(reason)) +
        ",\"software\":" + jsonModule(software) + ",\"firmware\":" + jsonModule(firmware) +
        ",\"bytes\":" + QByteArray::number(bytes);
    if (!keyId.isEmpty())
        json += ",\"key\":" + jsonString(keyId);
    if (early)
        json += ",\"early\":true";
    if (count > 1)
        json += ",\"count\":" + QByteArray::number(count);
    return json + '}';
}

QByteArray escapedJson(const QByteArray& json)
{
    QString escaped;
    for (const QChar c : QString::fromUtf8(json)) {
        if (needsEscape(c.unicode()))
            escaped += QStringLiteral("\\u%1").arg(int(c.unicode()), 4, 16, QLatin1Char('0'));
        else
            escaped += c;
    }
    return escaped.toUtf8();
}

QString historyPath(const QString& basePath)
{
    return basePath + '/' + QLatin1String(historyFileName);
}

bool appendHistory(const QString& basePath, const HistoryRecord& record, int limit)
{
    const QString path = historyPath(basePath);
    const QByteArray encoded = QFile::encodeName(path);
    bool exists = false;
    if (!usableFile(encoded, &exists)) {
        qWarning("history: %s is not a regular file", encoded.constData());
        return false;
    }
    HistoryTail tail = readTail(path, limit);
    std::optional<HistoryRecord> merged;
    if (!tail.cutOff && !tail.lines.isEmpty())
        merged = folded(tail.lines.last(), record);
    if (merged)
        tail.lines.removeLast();
    const QByteArray line = (merged ? *merged : record).toJson() + '\n';
    const bool append = !merged && !tail.cutOff && !tail.earlier && tail.lines.size() < limit;
    while (!append && !tail.lines.isEmpty() && tail.lines.size() >= limit)
        tail.lines.removeFirst();
    bool written = append ? appendLine(encoded, line) : rewrite(path, tail.lines, line);
    // A new name, created or renamed, lasts only once its directory is on disk.
    if (written && !(append && exists))
        written = syncDirectory(basePath);
    if (!written)
        qWarning("history: cannot write %s: %s", encoded.constData(), std::strerror(errno));
    return written;
}

QList<QByteArray> readHistory(const QString& basePath)
{
    return readTail(historyPath(basePath), historyLimit).lines;
}

bool writeLastCheck(const QString& basePath, const QDateTime& time, Result result, Reason reason)
{
    const QString path = lastCheckPath(basePath);
    bool exists = false;
    if (!usableFile(QFile::encodeName(path), &exists))
        return false;
    const QByteArray line = "{\"checked\":" + jsonTime(time) +
                            ",\"result\":" + jsonWord(word(result)) +
                            ",\"reason\":" + jsonWord(word(reason)) + "}\n";
    return rewrite(path, {}, line) && syncDirectory(basePath);
}

void printHistory(const QString& basePath, bool json, std::FILE* out)
{
    const QList<QByteArray> lines = readHistory(basePath);
    if (json)
        printJson(lines, out);
    else
        printTable(basePath, lines, out);
}

int runHistoryCommand(int argc, char** argv)
{
    const bool json = argc > 2 && std::strcmp(argv[2], "--json") == 0;
    if (argc > (json ? 3 : 2)) {
        std::fprintf(stderr, "usage: cmupdater --history [--json]\n");
        return 2;
    }
    const QFileInfo executable(QFile::symLinkTarget(QStringLiteral("/proc/self/exe")));
    printHistory(executable.absolutePath(), json, stdout);
    return 0;
}
