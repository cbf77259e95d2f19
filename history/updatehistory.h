#pragma once

#include "history/recordwords.h"

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>

#include <cstdio>
#include <optional>

// One chosen package of a run: the version it replaced, the version offered,
// and how its step ended (installed, rolled back, failed or refused).
struct ModuleRecord {
    QString from;
    QString to;
    Result outcome;
    Download download = Download::None; // stored only for a package
    // Where the package came from when not its own URL: a mirror's URL base
    // or "folder"; stored only when set.
    QString source{};
};

// One updater run or one recovery at start, as "update-history.jsonl" keeps
// it: a JSON object on one line. Never holds a password or a key.
struct HistoryRecord {
    QDateTime started;
    QDateTime ended;
    Result result = Result::Failed;
    Reason reason = Reason::None;         // None when all went well
    std::optional<ModuleRecord> software; // absent when not chosen
    std::optional<ModuleRecord> firmware;
    qint64 bytes = 0;   // downloaded in the run
    QString keyId{};    // of the key that verified the run's description, empty when none did
    bool early = false; // taken before its turn in a release offered in stages
    // Identical outcomes in a row are one record: started is the first of
    // them, ended the last, count how many.
    int count = 1;

    QByteArray toJson() const;
};

// The history's file in the installation directory.
inline constexpr char historyFileName[] = "update-history.jsonl";
// The outcome of the last version check, replaced by each check.
inline constexpr char lastCheckFileName[] = "update-last-check.json";
// How many records the file keeps.
inline constexpr int historyLimit = 200;
// How much of the file's end a reader looks at: the kept records and room to
// spare. Whatever lies before is never read.
inline constexpr qint64 historyReadLimit = qint64(historyLimit) * 4096;

QString historyPath(const QString& basePath);

// Appends record, synced to disk, as one line; when the file is full or its
// last line was cut off, writes a new file with the records kept and renames
// it over the old one. A record that repeats the last one's outcome (all but
// its times, count and bytes) is folded into it, unless something was
// installed, rolled back or recovered. False when the record could not be
// written.
bool appendHistory(const QString& basePath, const HistoryRecord& record, int limit = historyLimit);

// The complete lines of the file's end, oldest first, at most historyLimit.
QList<QByteArray> readHistory(const QString& basePath);

// Replaces the last check's line with its time, result and reason.
bool writeLastCheck(const QString& basePath, const QDateTime& time, Result result, Reason reason);

// The JSON text (whose strings escape control characters already) with DEL,
// C1 controls and the characters that turn or break lines (bidirectional
// marks, line and paragraph separators) written as escapes, so no terminal
// or viewer is steered by them.
QByteArray escapedJson(const QByteArray& json);

// The last check and the records as a table of at most 100 columns, or with
// json one document: an array of the records.
void printHistory(const QString& basePath, bool json, std::FILE* out);

// For "cmupdater --history [--json]": prints the history of the installation
// the running executable belongs to; 0, or 2 for arguments it does not take.
int runHistoryCommand(int argc, char** argv);
