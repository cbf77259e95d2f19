/* Starts a program as a set-user-id root parent run by the user UID would:
 * real user and group ids UID, effective and saved ones 0, no supplementary
 * groups. Inside the sandbox, where a set-user-id bit does nothing, this gives
 * the program the credentials, the loader's secure mode and the shell's
 * behaviour of such a start. --block blocks the signal numbered SIGNAL, as a
 * caller may before it starts the program.
 *   setuid-start [--block SIGNAL] UID PROGRAM [ARGUMENT...] */
#define _GNU_SOURCE /* setresuid and setresgid */
#include <grp.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/types.h>
#include <unistd.h>

int main(int argc, char** argv)
{
    if (argc > 2 && strcmp(argv[1], "--block") == 0) {
        sigset_t blocked;
        sigemptyset(&blocked);
        sigaddset(&blocked, atoi(argv[2]));
        sigprocmask(SIG_BLOCK, &blocked, NULL);
        argv += 2;
        argc -= 2;
    }
    if (argc < 3) {
        fputs("usage: setuid-start [--block SIGNAL] UID PROGRAM [ARGUMENT...]\n", stderr);
        return 2;
    }
    const uid_t user = (uid_t)strtoul(argv[1], NULL, 10);
    if (setgroups(0, NULL) != 0 || setresgid(user, 0, 0) != 0 || setresuid(user, 0, 0) != 0) {
        perror("setuid-start");
        return 1;
    }
    execv(argv[2], argv + 2);
    perror("setuid-start");
    return 127;
}
