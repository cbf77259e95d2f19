// Stands in for the connection manager: it runs until it is killed. The
// updater starts it with its output thrown away, so each start is noted in
// "<name>.log" next to the executable.

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
    for (;;)
        pause();
}
