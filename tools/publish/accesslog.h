#pragma once

#include <QByteArray>
#include <QString>

#include <optional>
#include <string_view>

// One outcome report as a web server logged its request, in the common or
// combined log format:
//   HOST IDENT USER [10/Dec/2026:10:00:00 +0000] "GET
//   PREFIX/reports/1/DEVICE/FROM/TO/RESULT/REASON?n=NONCE HTTP/1.1" ...
struct LoggedReport {
    qint64 time; // seconds since the epoch
    QString device;
    QString from;
    QString to;
    QString result;
    QString reason; // empty for "-"
    quint64 nonce;
};

// The report a log line records; nothing for any other line. With
// withTime false the time is not read (and left 0): most lines need none.
std::optional<LoggedReport> parseReportLine(std::string_view line, bool withTime);

// The time of a log line's "[10/Dec/2026:10:00:00 +0100]", in seconds since the epoch.
std::optional<qint64> parseLogTime(std::string_view text);
