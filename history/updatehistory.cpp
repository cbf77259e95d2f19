#include "history/updatehistory.h"

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

QByteArray jsonString(const QString& value)
{
    // An array of one string is the shortest way to Qt's string escaping.
    const QByteArray array = QJsonDocument(QJsonArray{value}).toJson(QJsonDocument::Compact);
    return array.mid(1, array.size() - 2);
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
                      ",\"outcome\":" + jsonString(module->outcome);
    if (!module->download.isEmpty())
        json += ",\"download\":" + jsonString(module->download);
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

// The lines that end with a line feed; a last line cut off by a power cut is left out.
QList<QByteArray> completeLines(const QByteArray& content)
{
    QList<QByteArray> lines = content.split('\n');
    lines.removeLast();
    lines.removeAll(QByteArray());
    return lines;
}

bool syncDirectory(const QString& dir)
{
    const int fd = ::open(QFile::encodeName(dir).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool synced = ::fsync(fd) == 0;
    ::close(fd);
    return synced;
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

QString cell(const QString& text, int width)
{
    QString shown = text;
    // Values come from settings and descriptions: nothing may steer the terminal.
    for (QChar& c : shown) {
        if (!c.isPrint())
            c = QLatin1Char('?');
    }
    return shown.leftJustified(width);
}

QString moduleCell(const QJsonValue& value)
{
    if (!value.isObject())
        return QStringLiteral("-");
    const QJsonObject module = value.toObject();
    const QString download = module.value("download").toString();
    return module.value("from").toString() + " -> " + module.value("to").toString() + ' ' +
           module.value("outcome").toString() + (download.isEmpty() ? "" : " (" + download + ')');
}

} // namespace

QByteArray HistoryRecord::toJson() const
{
    return "{\"started\":" + jsonTime(started) + ",\"ended\":" + jsonTime(ended) +
           ",\"result\":" + jsonString(result) + ",\"reason\":" + jsonString(reason) +
           ",\"software\":" + jsonModule(software) + ",\"firmware\":" + jsonModule(firmware) +
           ",\"bytes\":" + QByteArray::number(bytes) +
           (keyId.isEmpty() ? QByteArray() : ",\"key\":" + jsonString(keyId)) + '}';
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
    QByteArray content;
    if (QFile file(path); exists && file.open(QIODevice::ReadOnly))
        content = file.readAll();
    const QByteArray line = record.toJson() + '\n';
    QList<QByteArray> kept = completeLines(content);
    const bool cutOff = !content.isEmpty() && !content.endsWith('\n');
    const bool append = !cutOff && kept.size() < limit;
    while (!append && !kept.isEmpty() && kept.size() >= limit)
        kept.removeFirst();
    bool written = append ? appendLine(encoded, line) : rewrite(path, kept, line);
    // A new name, created or renamed, lasts only once its directory is on disk.
    if (written && !(append && exists))
        written = syncDirectory(basePath);
    if (!written)
        qWarning("history: cannot write %s: %s", encoded.constData(), std::strerror(errno));
    return written;
}

QList<QByteArray> readHistory(const QString& basePath)
{
    const QString path = historyPath(basePath);
    bool exists = false;
    QFile file(path);
    if (!usableFile(QFile::encodeName(path), &exists) || !exists || !file.open(QIODevice::ReadOnly))
        return {};
    return completeLines(file.readAll());
}

void printHistory(const QString& basePath, bool json, std::FILE* out)
{
    const QList<QByteArray> lines = readHistory(basePath);
    if (json) {
        for (const QByteArray& line : lines)
            std::fprintf(out, "%s\n", line.constData());
        return;
    }
    const auto row = [out](const QStringList& cells) {
        std::fprintf(out, "%s\n", cells.join(QLatin1String("  ")).trimmed().toUtf8().constData());
    };
    row({cell("STARTED", 20), cell("ENDED", 20), cell("RESULT", 11), cell("REASON", 18),
         cell("SOFTWARE", 28), cell("FIRMWARE", 28), "BYTES"});
    for (const QByteArray& line : lines) {
        const QJsonObject record = QJsonDocument::fromJson(line).object();
        if (record.isEmpty())
            continue;
        row({cell(record.value("started").toString(), 20),
             cell(record.value("ended").toString(), 20),
             cell(record.value("result").toString(), 11),
             cell(record.value("reason").toString(), 18),
             cell(moduleCell(record.value("software")), 28),
             cell(moduleCell(record.value("firmware")), 28),
             QString::number(record.value("bytes").toInteger())});
    }
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
