// Stands in for the connection manager: it runs until it is killed. The
// updater starts it with its output thrown away, so each start is noted in
// "<name>.log" next to the executable. A broken build (CM_EXITS_AT_ONCE)
// ends right after its note, as one missing a library or crashing at start would.

#include <filesystem>
#include <fstream>

#include <unistd.h>

int main()
{
    const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe");
    const std::string name = self.filename().string();
    {
        std::ofstream log(self.parent_path() / (name + ".log"), std::ios::app);
        log << name << ' ' << CM_VERSION << " running as process " << getpid() << '\n';
    }
#ifdef CM_EXITS_AT_ONCE
    return 1;
#endif
    for (;;)
        pause();
}
