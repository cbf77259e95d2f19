// Preloaded into a program to time its start-up from outside: wraps a few calls
// that mark its phases and appends "<phase> <epoch seconds with microseconds>"
// to PHASES_OUT as each is reached. The wrapped calls go on to the real ones.
//   loaded        every library is mapped, relocated and, but for a few, initialised
//                 (this library's initializer runs after those of nearly all others)
//   app, app-done QApplication's constructor begins and returns
//   styled        QApplication::setStyle returned
//   dialog        a QDialog's constructor begins
//   thread        a thread is started
//   loop          QApplication::exec is entered
//   curl-init, curl-init-done, perform, connect   the first network request

#include <dlfcn.h>
#include <fcntl.h>
#include <pthread.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>

namespace {

int out = -1;

void stamp(const char* phase)
{
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    char line[96];
    const int length = std::snprintf(line, sizeof line, "%s %lld.%06ld\n", phase,
                                     static_cast<long long>(now.tv_sec), now.tv_nsec / 1000);
    if (out >= 0 && write(out, line, static_cast<size_t>(length)) < 0)
        out = -1;
}

template <typename Function> Function real(const char* name)
{
    return reinterpret_cast<Function>(dlsym(RTLD_NEXT, name));
}

__attribute__((constructor)) void loaded()
{
    if (const char* path = std::getenv("PHASES_OUT"))
        out = open(path, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    stamp("loaded");
}

} // namespace

// The C++ entry points by their mangled names, with the object as first argument.
extern "C" {

void _ZN12QApplicationC1ERiPPci(void* self, int* argc, char** argv, int flags)
{
    static const auto construct = real<void (*)(void*, int*, char**, int)>(__func__);
    stamp("app");
    construct(self, argc, argv, flags);
    stamp("app-done");
}

void* _ZN12QApplication8setStyleERK7QString(const void* name)
{
    static const auto setStyle = real<void* (*)(const void*)>(__func__);
    void* style = setStyle(name);
    stamp("styled");
    return style;
}

// A dialog of its own class is built through the base-object constructor, a
// plain QDialog through the complete-object one; QDialog has no virtual base,
// so the two do the same and both go to the first.
void _ZN7QDialogC2EP7QWidget6QFlagsIN2Qt10WindowTypeEE(void* self, void* parent, int flags)
{
    static const auto construct = real<void (*)(void*, void*, int)>(__func__);
    stamp("dialog");
    construct(self, parent, flags);
}

void _ZN7QDialogC1EP7QWidget6QFlagsIN2Qt10WindowTypeEE(void* self, void* parent, int flags)
{
    _ZN7QDialogC2EP7QWidget6QFlagsIN2Qt10WindowTypeEE(self, parent, flags);
}

int _ZN12QApplication4execEv()
{
    static const auto exec = real<int (*)()>(__func__);
    stamp("loop");
    return exec();
}

int pthread_create(pthread_t* thread, const pthread_attr_t* attributes, void* (*start)(void*),
                   void* argument)
{
    static const auto create =
        real<int (*)(pthread_t*, const pthread_attr_t*, void* (*)(void*), void*)>(__func__);
    stamp("thread");
    return create(thread, attributes, start, argument);
}

int curl_global_init(long flags)
{
    static const auto init = real<int (*)(long)>(__func__);
    stamp("curl-init");
    const int result = init(flags);
    stamp("curl-init-done");
    return result;
}

int curl_easy_perform(void* handle)
{
    static const auto perform = real<int (*)(void*)>(__func__);
    stamp("perform");
    return perform(handle);
}

int connect(int socket, const sockaddr* address, socklen_t length)
{
    static const auto connectSocket = real<int (*)(int, const sockaddr*, socklen_t)>(__func__);
    stamp("connect");
    return connectSocket(socket, address, length);
}

} // extern "C"
