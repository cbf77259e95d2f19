#include "options.h"

#include <charconv>
#include <string_view>
#include <vector>

#include <getopt.h>

#include "requests.h"

namespace {

enum Option { Out = 1, Link, IdleTimeout, FaultKind, At, Only, Times, StopAfter, Verbose, Help };

constexpr option kOptions[] = {
    {"out", required_argument, nullptr, Out},
    {"link", required_argument, nullptr, Link},
    {"idle-timeout", required_argument, nullptr, IdleTimeout},
    {"fault", required_argument, nullptr, FaultKind},
    {"at", required_argument, nullptr, At},
    {"only", no_argument, nullptr, Only},
    {"times", required_argument, nullptr, Times},
    {"stop-after", required_argument, nullptr, StopAfter},
    {"verbose", no_argument, nullptr, Verbose},
    {"help", no_argument, nullptr, Help},
    {nullptr, 0, nullptr, 0},
};

std::optional<unsigned> parseCount(std::string_view text)
{
    unsigned value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size())
        return std::nullopt;
    return value;
}

std::optional<Fault> parseFault(std::string_view text)
{
    if (text == "silent")
        return Fault::Silent;
    if (text == "nak")
        return Fault::Nak;
    if (text == "corrupt")
        return Fault::Corrupt;
    if (text == "hangup")
        return Fault::Hangup;
    if (text == "flip")
        return Fault::Flip;
    return std::nullopt;
}

bool parseAt(std::string_view text, FaultPlan& plan)
{
    if (const auto type = requestByName(text)) {
        plan.atType = type;
        return true;
    }
    const auto frame = parseCount(text);
    if (!frame || *frame == 0)
        return false;
    plan.atFrame = *frame;
    return true;
}

bool apply(int option, std::string_view value, Options& options)
{
    switch (option) {
    case Out:
        options.outDir = value;
        return !value.empty();
    case Link:
        options.link = value;
        return !value.empty();
    case IdleTimeout: {
        const auto seconds = parseCount(value);
        options.idleTimeout = std::chrono::seconds(seconds.value_or(0));
        return seconds.value_or(0) > 0;
    }
    case FaultKind: {
        const auto kind = parseFault(value);
        options.fault.kind = kind.value_or(Fault::None);
        return kind.has_value();
    }
    case At:
        return parseAt(value, options.fault);
    case Only:
        options.fault.onlyAtType = true;
        return true;
    case Times: {
        const auto times = parseCount(value);
        options.fault.times = times.value_or(0);
        return times.has_value();
    }
    case StopAfter: {
        const auto frames = parseCount(value);
        options.fault.kind = Fault::Hangup;
        options.fault.atType.reset();
        options.fault.atFrame = frames.value_or(0) + 1;
        return frames.has_value();
    }
    case Verbose:
        options.verbose = true;
        return true;
    case Help:
        options.help = true;
        return true;
    }
    return false;
}

// The words after indent, broken into lines of at most width columns.
std::string wrapped(const std::vector<std::string_view>& words, std::size_t indent,
                    std::size_t width)
{
    std::string text;
    std::size_t column = width;
    for (std::string_view word : words) {
        if (column + 1 + word.size() > width) {
            text.append(text.empty() ? "" : "\n").append(indent, ' ');
            column = indent;
        } else {
            text += ' ';
            ++column;
        }
        text += word;
        column += word.size();
    }
    return text + "\n";
}

} // namespace

std::optional<Options> parseOptions(int argc, char** argv, std::string& error)
{
    Options options;
    optind = 1;
    opterr = 0;
    for (int option; (option = getopt_long(argc, argv, "", kOptions, nullptr)) != -1;) {
        const std::string_view value = optarg != nullptr ? optarg : "";
        if (option == '?' || !apply(option, value, options)) {
            error = "bad option or value: " + std::string(argv[optind - 1]);
            return std::nullopt;
        }
    }
    if (optind < argc) {
        error = "unexpected argument: " + std::string(argv[optind]);
        return std::nullopt;
    }
    if (options.fault.onlyAtType && !options.fault.atType) {
        error = "--only needs --at with a kind of request";
        return std::nullopt;
    }
    if (options.outDir.empty() && !options.help) {
        error = "--out DIR is required";
        return std::nullopt;
    }
    return options;
}

std::string usage()
{
    return "Usage: modem-sim --out DIR [options]\n"
           "\n"
           "A modem for lib6246 on a pseudo-terminal. Prints the terminal's path on\n"
           "standard output and serves one flash. DIR holds the modem's image, a file\n"
           "for each relative name; the files of a flash replace it together, only once\n"
           "the image digest the flasher sends matches what arrived, and a broken flash\n"
           "leaves it as it was. Ends when the flasher closes the line, after the idle\n"
           "time-out, or on SIGTERM, SIGINT or SIGHUP.\n"
           "\n"
           "  --out DIR           directory for the received files, created when missing\n"
           "  --link PATH         also make PATH a symbolic link to the terminal, removed\n"
           "                      at the end\n"
           "  --idle-timeout SEC  end after SEC seconds without traffic (default 60)\n"
           "  --fault KIND        silent (no answer), nak (refuse), corrupt (answer with a\n"
           "                      broken check), hangup (close the line) or flip (take\n"
           "                      the request with one bit flipped, as a line that\n"
           "                      damaged it under a recomputed frame check)\n"
           "  --at WHERE          the first request that meets the fault: its number,\n"
           "                      counting from 1 (the default), or the first of a kind:\n" +
           wrapped(requestNames(), 22, 80) +
           "  --only              fault requests of the --at kind only\n"
           "  --times N           fault N receptions only, then answer again (default:\n"
           "                      every one); a retried request is received again\n"
           "  --stop-after N      hang up after answering N requests\n"
           "  --verbose           log every frame on standard error\n"
           "  --help              show this text\n"
           "\n"
           "Exit status: 0 a whole flash was committed, 3 the flash did not complete,\n"
           "2 bad options, 1 the terminal, the link or DIR could not be set up.\n";
}
