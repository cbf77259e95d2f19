#include "accesslog.h"

#include <QUrl>

#include <array>
#include <charconv>

namespace {

constexpr std::string_view reportsMark = "/reports/1/";

bool number(std::string_view text, int& value)
{
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    return error == std::errc() && end == text.data() + text.size();
}

int month(std::string_view name)
{
    static constexpr std::array<std::string_view, 12> names = {
        "Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    for (size_t k = 0; k < names.size(); ++k) {
        if (names[k] == name)
            return int(k) + 1;
    }
    return 0;
}

// Days from 1970-01-01 to a date of the proleptic Gregorian calendar.
qint64 daysFromCivil(int year, int monthOfYear, int day)
{
    year -= monthOfYear <= 2;
    const qint64 era = (year >= 0 ? year : year - 399) / 400;
    const int yearOfEra = int(year - era * 400);
    const int dayOfYear = (153 * (monthOfYear + (monthOfYear > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    const int dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + dayOfEra - 719468;
}

QString decoded(std::string_view field)
{
    const QByteArray bytes(field.data(), qsizetype(field.size()));
    return bytes == "-" ? QString() : QUrl::fromPercentEncoding(bytes);
}

// DEVICE/FROM/TO/RESULT/REASON?n=NONCE, exactly.
bool splitReport(std::string_view target, LoggedReport& report)
{
    const size_t query = target.find("?n=");
    if (query == std::string_view::npos)
        return false;
    const std::string_view nonce = target.substr(query + 3);
    const auto [end, error] =
        std::from_chars(nonce.data(), nonce.data() + nonce.size(), report.nonce, 16);
    if (error != std::errc() || end != nonce.data() + nonce.size() || nonce.size() != 16)
        return false;
    std::array<std::string_view, 5> fields;
    std::string_view rest = target.substr(0, query);
    for (size_t k = 0; k < fields.size(); ++k) {
        const size_t slash = rest.find('/');
        if ((slash == std::string_view::npos) != (k == fields.size() - 1))
            return false;
        fields[k] = rest.substr(0, slash);
        rest = slash == std::string_view::npos ? std::string_view() : rest.substr(slash + 1);
        if (fields[k].empty())
            return false;
    }
    report.device = decoded(fields[0]);
    report.from = decoded(fields[1]);
    report.to = decoded(fields[2]);
    report.result = decoded(fields[3]);
    report.reason = decoded(fields[4]);
    return true;
}

} // namespace

std::optional<qint64> parseLogTime(std::string_view text)
{
    // 10/Dec/2026:10:00:00 +0100
    if (text.size() != 26 || text[2] != '/' || text[6] != '/' || text[11] != ':' ||
        text[14] != ':' || text[17] != ':' || text[20] != ' ')
        return std::nullopt;
    int day = 0, year = 0, hour = 0, minute = 0, second = 0, offset = 0;
    const int monthOfYear = month(text.substr(3, 3));
    if (!number(text.substr(0, 2), day) || !number(text.substr(7, 4), year) ||
        !number(text.substr(12, 2), hour) || !number(text.substr(15, 2), minute) ||
        !number(text.substr(18, 2), second) || !number(text.substr(22, 4), offset) ||
        monthOfYear == 0 || (text[21] != '+' && text[21] != '-'))
        return std::nullopt;
    const qint64 offsetSeconds =
        (offset / 100 * 3600 + offset % 100 * 60) * (text[21] == '-' ? -1 : 1);
    return daysFromCivil(year, monthOfYear, day) * 86400 + hour * 3600 + minute * 60 + second -
           offsetSeconds;
}

std::optional<LoggedReport> parseReportLine(std::string_view line, bool withTime)
{
    const size_t mark = line.find(reportsMark);
    const size_t quote = line.find('"');
    if (mark == std::string_view::npos || quote == std::string_view::npos || mark < quote)
        return std::nullopt;
    // "GET TARGET HTTP/1.1": the target ends at the space before the version.
    const size_t targetEnd = line.find(' ', mark);
    if (line.substr(quote + 1, 4) != "GET " || targetEnd == std::string_view::npos)
        return std::nullopt;
    LoggedReport report{};
    const size_t start = mark + reportsMark.size();
    if (!splitReport(line.substr(start, targetEnd - start), report))
        return std::nullopt;
    if (withTime) {
        const size_t open = line.find('[');
        const size_t close = line.find(']', open);
        const std::optional<qint64> time =
            open < quote && close < quote ? parseLogTime(line.substr(open + 1, close - open - 1))
                                          : std::nullopt;
        if (!time)
            return std::nullopt;
        report.time = *time;
    }
    return report;
}
