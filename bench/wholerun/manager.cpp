// The connection manager of the whole-run benchmark: like the real one, it
// keeps running, whatever its arguments, until it is stopped.
#include <unistd.h>

int main()
{
    for (;;)
        pause();
}
