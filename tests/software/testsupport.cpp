#include "testsupport.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QProcess>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

RecordingRunner::RecordingRunner(QStringList* journal) : journal(journal)
{
    setShellRunner(this);
}

RecordingRunner::~RecordingRunner()
{
    setShellRunner(nullptr);
}

void RecordingRunner::answer(const QString& prefix, int status)
{
    answers.append({prefix, status});
}

int RecordingRunner::run(const QString& line)
{
    journal->append("$ " + line);
    for (const auto& [prefix, status] : std::as_const(answers)) {
        if (line.startsWith(prefix))
            return status;
    }
    return 0;
}

namespace {

const char* stepName(UpdateStep step)
{
    static const char* const names[] = {"Download", "Firmware", "Software", "End"};
    return names[int(step)];
}

} // namespace

void RecordingView::setProgress(int percent)
{
    journal->append("progress " + QString::number(percent));
}

void RecordingView::appendLine(const char* text)
{
    journal->append(QStringLiteral("line ") + text);
}

void RecordingView::appendLineOnce(const char* text, const QString& scope)
{
    journal->append(QStringLiteral("line once ") + text + (scope.isEmpty() ? "" : " @" + scope));
}

void RecordingView::markStep(UpdateStep step)
{
    journal->append(QStringLiteral("mark ") + stepName(step));
}

void RecordingView::unmarkStep(UpdateStep step)
{
    journal->append(QStringLiteral("unmark ") + stepName(step));
}

void RecordingView::hideDialog()
{
    journal->append("hide");
}

void RecordingView::showWarning(const QList<const char*>& texts)
{
    for (const char* text : texts)
        journal->append(QStringLiteral("warning ") + text);
}

void RecordingView::endEventLoop(int code)
{
    journal->append("end " + QString::number(code));
}

QStringList entriesWith(const QStringList& journal, const QString& prefix)
{
    QStringList found;
    for (const QString& entry : journal) {
        if (entry.startsWith(prefix))
            found.append(entry.mid(prefix.size()));
    }
    return found;
}

QStringList expanded(const QStringList& entries, const QString& base)
{
    QStringList result;
    for (QString entry : entries)
        result.append(entry.replace('@', base));
    return result;
}

void writeFile(const QString& path, const QByteArray& content)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    if (file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        file.write(content);
}

void writeTree(const QString& root, const QList<QPair<QString, QByteArray>>& files)
{
    for (const auto& [name, content] : files)
        writeFile(root + name, content);
}

void writeExecutable(const QString& path, const QByteArray& content)
{
    writeFile(path, content);
    QFile::setPermissions(path, QFile::permissions(path) | QFile::ExeOwner | QFile::ExeGroup |
                                    QFile::ExeOther);
}

QByteArray readFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

void writeRawFile(const QByteArray& path, const QByteArray& content)
{
    const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd >= 0 && ::write(fd, content.constData(), size_t(content.size())) >= 0)
        ::close(fd);
}

QByteArray readRawFile(const QByteArray& path)
{
    QFile file;
    const int fd = ::open(path.constData(), O_RDONLY);
    if (fd < 0 || !file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle))
        return "<missing>";
    return file.readAll();
}

namespace {

void snapshotInto(const QByteArray& dir, qsizetype rootSize, QMap<QString, QByteArray>* entries)
{
    DIR* stream = ::opendir(dir.constData());
    if (stream == nullptr)
        return;
    while (const dirent* entry = ::readdir(stream)) {
        const QByteArray name(entry->d_name);
        if (name == "." || name == "..")
            continue;
        const QByteArray path = dir + '/' + name;
        const QString key = QString::fromLatin1(path.mid(rootSize));
        struct stat info {};
        if (::lstat(path.constData(), &info) != 0)
            continue;
        if (S_ISDIR(info.st_mode)) {
            entries->insert(key, "<dir>");
            snapshotInto(path, rootSize, entries);
        } else if (S_ISLNK(info.st_mode)) {
            QByteArray target(4096, '\0');
            const ssize_t length = ::readlink(path.constData(), target.data(), 4096);
            entries->insert(key, "-> " + target.left(length));
        } else {
            entries->insert(key, readRawFile(path));
        }
    }
    ::closedir(stream);
}

} // namespace

QMap<QString, QByteArray> snapshot(const QString& root)
{
    QMap<QString, QByteArray> entries;
    const QByteArray bytes = QFile::encodeName(root);
    snapshotInto(bytes, bytes.size(), &entries);
    return entries;
}

bool makeZip(const QString& sourceDir, const QString& zipPath)
{
    QProcess zip;
    zip.setWorkingDirectory(sourceDir);
    const QStringList entries =
        QDir(sourceDir).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
    zip.start("zip", QStringList{"-q", "-r", zipPath} + entries);
    return zip.waitForFinished(30000) && zip.exitStatus() == QProcess::NormalExit &&
           zip.exitCode() == 0;
}
