/* A network share's round trips on a local disk: an LD_PRELOAD library that
 * delays each file open, each directory open, the first read of each directory
 * listing and each stat by a path, by HALVARD_LATENCY_US microseconds.
 *
 *   HALVARD_LATENCY_US=1000 HALVARD_LATENCY_PREFIX=/repo LD_PRELOAD=latency_shim.so CMD
 *
 * HALVARD_LATENCY_PREFIX (optional): only paths that begin with it are delayed
 * (relative paths never), as only the share is far away. The delay sleeps in
 * the calling thread, so requests made by several threads at once overlap, as
 * pipelined requests on a share do. Calls on an open descriptor (read, fstat,
 * close) are not delayed; nor are the opens the C library makes inside its own
 * functions, except opendir's, which is delayed here. A listing read without a
 * directory stream (open with O_DIRECTORY, then getdents64) is delayed as one:
 * the open, then the first getdents64 on the descriptor.
 *
 * HALVARD_LATENCY_LOG (optional): a file that gets, when the program ends
 * normally, "round_trips N" (the calls delayed) and one line "thread T S" for
 * each thread made: T microseconds after the start, S the bytes of its stack
 * as the program set them (0: the C library's default).
 *
 * Build: cc -shared -fPIC -O2 -o latency_shim.so latency_shim.c -ldl -lpthread
 */
#define _GNU_SOURCE
#include <dirent.h>
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <pthread.h>
#include <stdarg.h>
#include <stdatomic.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

static long delay_us;
static const char* prefix;
static size_t prefix_length;
static const char* log_path;
static struct timespec started;
static atomic_long round_trips;

enum { kThreads = 4096 };
static long thread_us[kThreads];
static size_t thread_stack[kThreads];
static atomic_int threads;

__attribute__((constructor)) static void configure(void) {
    const char* text = getenv("HALVARD_LATENCY_US");
    delay_us = text ? atol(text) : 0;
    prefix = getenv("HALVARD_LATENCY_PREFIX");
    prefix_length = prefix ? strlen(prefix) : 0;
    log_path = getenv("HALVARD_LATENCY_LOG");
    clock_gettime(CLOCK_MONOTONIC, &started);
}

__attribute__((destructor)) static void write_log(void) {
    if (log_path == NULL) return;
    FILE* log = fopen(log_path, "w");
    if (log == NULL) return;
    fprintf(log, "round_trips %ld\n", atomic_load(&round_trips));
    int count = atomic_load(&threads);
    for (int i = 0; i < count && i < kThreads; ++i) {
        fprintf(log, "thread %ld %zu\n", thread_us[i], thread_stack[i]);
    }
    fclose(log);
}

static int far_away(const char* path) {
    if (delay_us <= 0 || path == NULL) return 0;
    return prefix == NULL || strncmp(path, prefix, prefix_length) == 0;
}

static void round_trip(void) {
    int saved = errno;
    atomic_fetch_add(&round_trips, 1);
    struct timespec left = {delay_us / 1000000, (delay_us % 1000000) * 1000};
    while (nanosleep(&left, &left) != 0 && errno == EINTR) {}
    errno = saved;
}

static void wait_if_far(const char* path) {
    if (far_away(path)) round_trip();
}

#define REAL(name)                 \
    static __typeof__(name)* real; \
    if (!real) real = (__typeof__(name)*)dlsym(RTLD_NEXT, #name)

/* --- threads: when each is made --------------------------------------------- */

int pthread_create(pthread_t* thread, const pthread_attr_t* attributes, void* (*body)(void*),
                   void* argument) {
    REAL(pthread_create);
    int made = real(thread, attributes, body, argument);
    if (made == 0 && log_path != NULL) {
        struct timespec now;
        clock_gettime(CLOCK_MONOTONIC, &now);
        int index = atomic_fetch_add(&threads, 1);
        if (index < kThreads) {
            size_t stack = 0;
            void* base;
            if (attributes != NULL) pthread_attr_getstack(attributes, &base, &stack);
            thread_us[index] =
                (now.tv_sec - started.tv_sec) * 1000000L + (now.tv_nsec - started.tv_nsec) / 1000;
            thread_stack[index] = stack;
        }
    }
    return made;
}

/* --- directory listings: the open, then the first read ----------------------- */

enum { kStreams = 1024 };
static DIR* unread[kStreams]; /* opened far away, not read yet */
static pthread_mutex_t unread_lock = PTHREAD_MUTEX_INITIALIZER;

static void remember(DIR* stream) {
    pthread_mutex_lock(&unread_lock);
    for (int i = 0; i < kStreams; ++i) {
        if (unread[i] == NULL) {
            unread[i] = stream;
            break;
        }
    }
    pthread_mutex_unlock(&unread_lock);
}

static int forget(DIR* stream) {
    int found = 0;
    pthread_mutex_lock(&unread_lock);
    for (int i = 0; i < kStreams; ++i) {
        if (unread[i] == stream) {
            unread[i] = NULL;
            found = 1;
            break;
        }
    }
    pthread_mutex_unlock(&unread_lock);
    return found;
}

DIR* opendir(const char* path) {
    REAL(opendir);
    wait_if_far(path);
    DIR* stream = real(path);
    if (stream != NULL && far_away(path)) remember(stream);
    return stream;
}

struct dirent* readdir(DIR* stream) {
    REAL(readdir);
    if (delay_us > 0 && forget(stream)) round_trip();
    return real(stream);
}

struct dirent64* readdir64(DIR* stream) {
    REAL(readdir64);
    if (delay_us > 0 && forget(stream)) round_trip();
    return real(stream);
}

int closedir(DIR* stream) {
    REAL(closedir);
    if (delay_us > 0) forget(stream);
    return real(stream);
}

/* --- listings read straight from the kernel: a directory opened with O_DIRECTORY,
 * then the first getdents64 on it ------------------------------------------------ */

enum { kFds = 65536 };
static atomic_char unread_fd[kFds]; /* opened far away as a directory, not read yet */

static void remember_fd(int fd, int flags, const char* path) {
    if (fd >= 0 && fd < kFds && (flags & O_DIRECTORY) && far_away(path)) {
        atomic_store(&unread_fd[fd], 1);
    }
}

ssize_t getdents64(int fd, void* buffer, size_t length) {
    REAL(getdents64);
    if (delay_us > 0 && fd >= 0 && fd < kFds && atomic_exchange(&unread_fd[fd], 0)) {
        round_trip();
    }
    return real(fd, buffer, length);
}

int close(int fd) {
    REAL(close);
    if (fd >= 0 && fd < kFds) atomic_store(&unread_fd[fd], 0);
    return real(fd);
}

/* --- opens ---------------------------------------------------------------------- */

static mode_t mode_of(int flags, va_list arguments) {
    return (flags & O_CREAT) || (flags & O_TMPFILE) == O_TMPFILE ? (mode_t)va_arg(arguments, int)
                                                                 : 0;
}

#define OPEN(name)                               \
    int name(const char* path, int flags, ...) { \
        REAL(name);                              \
        va_list arguments;                       \
        va_start(arguments, flags);              \
        mode_t mode = mode_of(flags, arguments); \
        va_end(arguments);                       \
        wait_if_far(path);                       \
        int fd = real(path, flags, mode);        \
        remember_fd(fd, flags, path);            \
        return fd;                               \
    }
OPEN(open)
OPEN(open64)

#define OPENAT(name)                                            \
    int name(int directory, const char* path, int flags, ...) { \
        REAL(name);                                             \
        va_list arguments;                                      \
        va_start(arguments, flags);                             \
        mode_t mode = mode_of(flags, arguments);                \
        va_end(arguments);                                      \
        wait_if_far(path);                                      \
        int fd = real(directory, path, flags, mode);            \
        remember_fd(fd, flags, path);                           \
        return fd;                                              \
    }
OPENAT(openat)
OPENAT(openat64)

int __open_2(const char* path, int flags) {
    REAL(__open_2);
    wait_if_far(path);
    return real(path, flags);
}

int __open64_2(const char* path, int flags) {
    REAL(__open64_2);
    wait_if_far(path);
    return real(path, flags);
}

/* --- stat by path ------------------------------------------------------------- */

#define STAT(name, type)                     \
    int name(const char* path, type* info) { \
        REAL(name);                          \
        wait_if_far(path);                   \
        return real(path, info);             \
    }
STAT(stat, struct stat)
STAT(stat64, struct stat64)
STAT(lstat, struct stat)
STAT(lstat64, struct stat64)

#define STATAT(name, type)                                             \
    int name(int directory, const char* path, type* info, int flags) { \
        REAL(name);                                                    \
        wait_if_far(path);                                             \
        return real(directory, path, info, flags);                     \
    }
STATAT(fstatat, struct stat)
STATAT(fstatat64, struct stat64)

int statx(int directory, const char* path, int flags, unsigned mask, struct statx* info) {
    REAL(statx);
    wait_if_far(path);
    return real(directory, path, flags, mask, info);
}

int access(const char* path, int mode) {
    REAL(access);
    wait_if_far(path);
    return real(path, mode);
}
