#include "base/shell.h"

#include <cstdlib>
#include <sys/wait.h>

namespace {

class SystemRunner final : public ShellRunner {
public:
    int run(const QString& line) override { return std::system(line.toLocal8Bit().constData()); }
};

SystemRunner systemRunner;
ShellRunner* installedRunner = nullptr;

} // namespace

ShellRunner& shellRunner()
{
    return installedRunner != nullptr ? *installedRunner : systemRunner;
}

void setShellRunner(ShellRunner* runner)
{
    installedRunner = runner;
}

bool executeShell(const QString& line)
{
    return shellRunner().run(line) != -1;
}

bool executeShellChecked(const QString& line)
{
    const int status = shellRunner().run(line);
    return status != -1 && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

QString shellQuote(const QString& value)
{
    QString quoted = value;
    quoted.replace(QLatin1String("'"), QLatin1String("'\\''"));
    return QLatin1Char('\'') + quoted + QLatin1Char('\'');
}
