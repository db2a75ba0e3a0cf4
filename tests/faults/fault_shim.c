/* A share that fails now and then, on a local disk: an LD_PRELOAD library that
 * makes chosen opens, directory listings, reads or stats of paths below a root
 * fail with a chosen errno.
 *
 *   HALVARD_FAULTS="op=open;below=/repo;nth=3;times=2;errno=EIO" \
 *       LD_PRELOAD=fault_shim.so CMD
 *
 * HALVARD_FAULTS holds one or more rules separated by blanks (or one a line); a
 * rule is a list
 * of key=value fields separated by ';':
 *   op      what to fail: open, opendir, readdir, list (opendir and readdir),
 *           read, stat, or several joined by '|' (op=open|list|read)
 *   below   an absolute path: only calls on it or on paths below it count
 *   nth     the first call to fail, counted from 1 over the calls this rule
 *           matches (0: none fails; the rule only counts)
 *   times   how many calls fail from the nth on; 0 is for ever (default 1)
 *   errno   a name (EIO, ETIMEDOUT, ESTALE, ...) or a number (default EIO)
 *   same    1: after the nth call only calls on the nth call's path fail (a
 *           handle gone stale for one file); 0 (default): every matching call
 *   part    1 (read only): a failing read first returns half of what it was
 *           asked for, and the next read on that descriptor fails; so a file
 *           is cut short part way, after data arrived
 *
 * The calls counted, by their path:
 *   open     open, open64, openat, openat64, __open_2, __open64_2,
 *            __openat_2, __openat64_2, without O_DIRECTORY (relative paths are taken from the
 *            current directory, or from the directory descriptor through
 *            /proc/self/fd)
 *   opendir  opendir, fdopendir, and the opens above with O_DIRECTORY
 *   readdir  readdir, readdir64, getdents64 on a directory below the root;
 *            a failing one returns NULL (-1) with errno set
 *   read     read, pread, pread64, readv on a descriptor of a file below the
 *            root (opened through the calls above, or found through
 *            /proc/self/fd for descriptors this process did not open itself,
 *            as Wine's server hands them over)
 *   stat     stat, stat64, lstat, lstat64, fstatat, fstatat64, statx, access
 * Opens and reads the C library makes inside its own functions (fopen, fread,
 * opendir's own open) are not seen: only calls through the dynamic linker are.
 *
 * HALVARD_FAULTS_FILE names a file to read the rules from instead, one a line;
 * it is read again, and the counts start afresh, whenever it is replaced (by a
 * rename), so a process that outlives one run, as Wine's server does, takes
 * the next run's rules. HALVARD_FAULTS itself may also hold one rule a line,
 * which a path with blanks in it needs.
 *
 * HALVARD_FAULTS_RESOLVE (set to anything): a path that is not below a root as
 * spelled counts when its folder's real path is (Wine's server spells the
 * repository's paths through PREFIX/dosdevices/z:).
 *
 * Further variables, each naming a file that lines are appended to:
 *   HALVARD_FAULTS_COUNT  at exit, one line "OP COUNT" per op: the calls below
 *                         the root of the first rule (or HALVARD_FAULTS_BELOW)
 *   HALVARD_FAULTS_TRACE  each such call as it is made: "OP<TAB>PATH"
 *   HALVARD_FAULTS_LOG    each failure made: "OP<TAB>ERRNO<TAB>PATH"
 * Lines are written whole with O_APPEND, so several processes (a Wine program
 * and its server) and threads may share one file.
 *
 * Build: cc -shared -fPIC -O2 -o fault_shim.so fault_shim.c -ldl -lpthread
 */
#define _GNU_SOURCE
#include <dirent.h>
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <pthread.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/uio.h>
#include <unistd.h>

enum {
    kOpen = 1,
    kOpendir = 2,
    kReaddir = 4,
    kRead = 8,
    kStat = 16,
    kOps = 5,
    kRules = 8,
    kDescriptors = 65536,
    kStreams = 4096,
};

static const char* const kOpNames[kOps] = {"open", "opendir", "readdir", "read", "stat"};

struct rule {
    int ops;
    char below[PATH_MAX];
    size_t below_length;
    long nth;
    long times;
    int error;
    int same;
    int part;
    long calls;    /* matching calls so far (atomic) */
    char* stuck;   /* same=1: the path of the nth call */
    long repeated; /* same=1: failures made on it so far */
};

static struct rule rules[kRules];
static int rule_count;
static char count_below[PATH_MAX];
static size_t count_below_length;
static long op_calls[kOps];
static int resolve_links;
static int trace_fd = -1;
static int log_fd = -1;
static pthread_mutex_t lock = PTHREAD_MUTEX_INITIALIZER;

#define REAL(name)                                 \
    static __typeof__(name)* real;                 \
    if (!__atomic_load_n(&real, __ATOMIC_ACQUIRE)) \
    __atomic_store_n(&real, (__typeof__(name)*)dlsym(RTLD_NEXT, #name), __ATOMIC_RELEASE)

/* --- configuration ---------------------------------------------------------------- */

struct errno_name {
    const char* name;
    int value;
};

static const struct errno_name kErrnoNames[] = {
    {"EIO", EIO},
    {"ETIMEDOUT", ETIMEDOUT},
    {"ESTALE", ESTALE},
    {"ENOTCONN", ENOTCONN},
    {"EHOSTDOWN", EHOSTDOWN},
    {"ECONNRESET", ECONNRESET},
    {"EMFILE", EMFILE},
    {"ENFILE", ENFILE},
    {"ENOMEM", ENOMEM},
    {"ENETDOWN", ENETDOWN},
    {"ENETUNREACH", ENETUNREACH},
    {"EACCES", EACCES},
    {"EPERM", EPERM},
    {"ENOENT", ENOENT},
    {"ENOTDIR", ENOTDIR},
    {"EAGAIN", EAGAIN},
    {"EINTR", EINTR},
    {"EBUSY", EBUSY},
};

static int errno_of(const char* text) {
    for (size_t i = 0; i < sizeof kErrnoNames / sizeof kErrnoNames[0]; ++i) {
        if (strcmp(text, kErrnoNames[i].name) == 0) return kErrnoNames[i].value;
    }
    int value = atoi(text);
    return value > 0 ? value : EIO;
}

static int ops_of(const char* text) {
    int ops = 0;
    char copy[128];
    snprintf(copy, sizeof copy, "%s", text);
    for (char *save = NULL, *word = strtok_r(copy, "|,", &save); word;
         word = strtok_r(NULL, "|,", &save)) {
        if (strcmp(word, "list") == 0) ops |= kOpendir | kReaddir;
        if (strcmp(word, "all") == 0) ops |= kOpen | kOpendir | kReaddir | kRead | kStat;
        for (int i = 0; i < kOps; ++i) {
            if (strcmp(word, kOpNames[i]) == 0) ops |= 1 << i;
        }
    }
    return ops;
}

/* A path without repeated separators, "." components or a trailing '/'. */
static void tidy(char* path) {
    char* out = path;
    for (const char* in = path; *in;) {
        if (*in == '/' && (in[1] == '/' || (in[1] == '.' && (in[2] == '/' || in[2] == 0)))) {
            in += in[1] == '/' ? 1 : 2;
            continue;
        }
        *out++ = *in++;
    }
    while (out > path + 1 && out[-1] == '/') --out;
    *out = 0;
}

static void set_below(char* target, size_t* length, const char* text) {
    snprintf(target, PATH_MAX, "%s", text);
    tidy(target);
    *length = strlen(target);
}

static void parse_rule(char* text) {
    if (rule_count == kRules) return;
    struct rule* r = &rules[rule_count];
    r->times = 1;
    r->error = EIO;
    for (char *save = NULL, *field = strtok_r(text, ";", &save); field;
         field = strtok_r(NULL, ";", &save)) {
        char* value = strchr(field, '=');
        if (!value) continue;
        *value++ = 0;
        if (strcmp(field, "op") == 0) r->ops = ops_of(value);
        if (strcmp(field, "below") == 0) set_below(r->below, &r->below_length, value);
        if (strcmp(field, "nth") == 0) r->nth = atol(value);
        if (strcmp(field, "times") == 0) r->times = atol(value);
        if (strcmp(field, "errno") == 0) r->error = errno_of(value);
        if (strcmp(field, "same") == 0) r->same = atoi(value);
        if (strcmp(field, "part") == 0) r->part = atoi(value);
    }
    if (r->ops && r->below_length && r->below[0] == '/') ++rule_count;
}

static int open_output(const char* variable) {
    const char* name = getenv(variable);
    if (!name || !*name) return -1;
    REAL(open);
    return real(name, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
}

/* Rules one a line, or, in a text without line ends, separated by blanks. */
static void parse_rules(const char* text) {
    for (int i = 0; i < rule_count; ++i) free(rules[i].stuck);
    memset(rules, 0, sizeof rules);
    rule_count = 0;
    char* copy = strdup(text);
    const char* separators = strchr(text, '\n') ? "\n" : " \t";
    for (char *save = NULL, *word = strtok_r(copy, separators, &save); word;
         word = strtok_r(NULL, separators, &save)) {
        parse_rule(word);
    }
    free(copy);
    const char* below = getenv("HALVARD_FAULTS_BELOW");
    if (below && *below) {
        set_below(count_below, &count_below_length, below);
    } else {
        set_below(count_below, &count_below_length, rule_count > 0 ? rules[0].below : "");
    }
}

/* HALVARD_FAULTS_FILE: the rules are read from that file, and read again (the
 * counts starting afresh) whenever it is replaced, so that a process that
 * outlives one run (Wine's server) takes the next run's schedule. */
static const char* rules_file;
static struct stat rules_seen;
static pthread_rwlock_t rules_lock = PTHREAD_RWLOCK_INITIALIZER;

static void reload_rules(void) {
    if (!rules_file) return;
    struct stat info;
    int saved = errno;
    if (syscall(SYS_newfstatat, AT_FDCWD, rules_file, &info, 0) != 0) {
        memset(&info, 0, sizeof info);
    }
    pthread_rwlock_rdlock(&rules_lock);
    const int same = info.st_ino == rules_seen.st_ino && info.st_size == rules_seen.st_size &&
                     info.st_mtim.tv_sec == rules_seen.st_mtim.tv_sec &&
                     info.st_mtim.tv_nsec == rules_seen.st_mtim.tv_nsec;
    pthread_rwlock_unlock(&rules_lock);
    if (same) {
        errno = saved;
        return;
    }
    char text[16384];
    ssize_t length = 0;
    int fd = (int)syscall(SYS_openat, AT_FDCWD, rules_file, O_RDONLY | O_CLOEXEC);
    if (fd >= 0) {
        length = syscall(SYS_read, fd, text, sizeof text - 1);
        syscall(SYS_close, fd);
    }
    text[length > 0 ? length : 0] = 0;
    pthread_rwlock_wrlock(&rules_lock);
    rules_seen = info;
    parse_rules(text);
    pthread_rwlock_unlock(&rules_lock);
    errno = saved;
}

__attribute__((constructor)) static void configure(void) {
    rules_file = getenv("HALVARD_FAULTS_FILE");
    if (rules_file && !*rules_file) rules_file = NULL;
    const char* text = getenv("HALVARD_FAULTS");
    parse_rules(text && !rules_file ? text : "");
    resolve_links = getenv("HALVARD_FAULTS_RESOLVE") != NULL;
    trace_fd = open_output("HALVARD_FAULTS_TRACE");
    log_fd = open_output("HALVARD_FAULTS_LOG");
    reload_rules();
}

static void write_line(int fd, const char* line) {
    int saved = errno;
    ssize_t ignored = write(fd, line, strlen(line));
    (void)ignored;
    errno = saved;
}

__attribute__((destructor)) static void report_counts(void) {
    int fd = open_output("HALVARD_FAULTS_COUNT");
    if (fd < 0) return;
    char text[512];
    size_t used = 0;
    for (int i = 0; i < kOps; ++i) {
        used += (size_t)snprintf(text + used, sizeof text - used, "%s %ld\n", kOpNames[i],
                                 __atomic_load_n(&op_calls[i], __ATOMIC_RELAXED));
    }
    write_line(fd, text);
    close(fd);
}

/* --- paths ----------------------------------------------------------------------------- */

static int is_below(const char* path, const char* root, size_t length) {
    return length > 0 && strncmp(path, root, length) == 0 &&
           (path[length] == 0 || path[length] == '/' || length == 1);
}

static int below_a_root(const char* path) {
    if (is_below(path, count_below, count_below_length)) return 1;
    for (int i = 0; i < rule_count; ++i) {
        if (is_below(path, rules[i].below, rules[i].below_length)) return 1;
    }
    return 0;
}

static int anything_below(const char* path) {
    reload_rules();
    pthread_rwlock_rdlock(&rules_lock);
    const int below = below_a_root(path);
    pthread_rwlock_unlock(&rules_lock);
    return below;
}

/* A path not below a root as spelled may be below one through links (Wine's
 * server opens "PREFIX/dosdevices/z:/..."): with HALVARD_FAULTS_RESOLVE set,
 * its folder is resolved and the path taken as the folder's real path. */
static void resolve_folder(char* path) {
    if (!resolve_links || anything_below(path)) return;
    char* slash = strrchr(path, '/');
    if (!slash || slash == path) return;
    *slash = 0;
    char real[PATH_MAX];
    const int found = realpath(path, real) != NULL;
    *slash = '/';
    if (found && strlen(real) + strlen(slash) < PATH_MAX) {
        strcat(real, slash);
        if (anything_below(real)) strcpy(path, real);
    }
}

/* The absolute path a call names, tidied; empty when it cannot be made. */
static void absolute(int directory, const char* path, char* out) {
    out[0] = 0;
    if (!path) return;
    int saved = errno;
    char base[PATH_MAX];
    if (path[0] == '/') {
        base[0] = 0;
    } else if (directory == AT_FDCWD) {
        if (!getcwd(base, sizeof base)) base[0] = 0;
    } else {
        char link[64];
        snprintf(link, sizeof link, "/proc/self/fd/%d", directory);
        ssize_t length = readlink(link, base, sizeof base - 1);
        base[length > 0 ? length : 0] = 0;
    }
    if (path[0] == '/' || base[0] == '/') {
        snprintf(out, PATH_MAX, "%s%s%s", base, path[0] == '/' ? "" : "/", path);
        tidy(out);
        resolve_folder(out);
    }
    errno = saved;
}

/* --- what a descriptor or stream is ------------------------------------------------- */

static char* descriptor_paths[kDescriptors];
static int fail_next_read[kDescriptors]; /* part=1: the errno for this one's next read */

struct stream_entry {
    DIR* stream;
    char* path;
};
static struct stream_entry streams[kStreams];

static void remember_descriptor(int fd, const char* path) {
    if (fd < 0 || fd >= kDescriptors) return;
    char* copy = path && anything_below(path) ? strdup(path) : NULL;
    pthread_mutex_lock(&lock);
    free(descriptor_paths[fd]);
    descriptor_paths[fd] = copy;
    fail_next_read[fd] = 0;
    pthread_mutex_unlock(&lock);
}

/* The path of an open descriptor into out; empty when it is not below a root. The
 * system is asked each time: a descriptor closed where this library does not see it (a
 * raw system call, a descriptor passed over a socket) may have been given again to a
 * pipe, which must never fail. The path remembered at the open serves only where the
 * system cannot tell. */
static void descriptor_path(int fd, char* out) {
    out[0] = 0;
    if (fd < 0) return;
    int saved = errno;
    char link[64];
    snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    ssize_t length = readlink(link, out, PATH_MAX - 1);
    errno = saved;
    if (length > 0) {
        out[length] = 0;
        if (out[0] != '/' || !anything_below(out)) out[0] = 0;
        return;
    }
    out[0] = 0;
    if (fd < kDescriptors) {
        pthread_mutex_lock(&lock);
        if (descriptor_paths[fd]) snprintf(out, PATH_MAX, "%s", descriptor_paths[fd]);
        pthread_mutex_unlock(&lock);
    }
}

static void remember_stream(DIR* stream, const char* path) {
    if (!stream || !path || !anything_below(path)) return;
    pthread_mutex_lock(&lock);
    for (int i = 0; i < kStreams; ++i) {
        if (!streams[i].stream) {
            streams[i].stream = stream;
            streams[i].path = strdup(path);
            break;
        }
    }
    pthread_mutex_unlock(&lock);
}

static void forget_stream(DIR* stream) {
    pthread_mutex_lock(&lock);
    for (int i = 0; i < kStreams; ++i) {
        if (streams[i].stream == stream) {
            streams[i].stream = NULL;
            free(streams[i].path);
            streams[i].path = NULL;
        }
    }
    pthread_mutex_unlock(&lock);
}

static void stream_path(DIR* stream, char* out) {
    out[0] = 0;
    pthread_mutex_lock(&lock);
    for (int i = 0; i < kStreams; ++i) {
        if (streams[i].stream == stream) {
            snprintf(out, PATH_MAX, "%s", streams[i].path);
            break;
        }
    }
    pthread_mutex_unlock(&lock);
}

/* --- the decision ------------------------------------------------------------------- */

static int op_index(int op) {
    int index = 0;
    while ((1 << index) != op) ++index;
    return index;
}

/* Whether the rule fails this matching call (its count already taken as n). */
static int rule_fails(struct rule* r, long n, const char* path) {
    if (r->nth <= 0 || n < r->nth) return 0;
    if (!r->same) return r->times == 0 || n < r->nth + r->times;
    int fails = 0;
    pthread_mutex_lock(&lock);
    if (n == r->nth) {
        free(r->stuck);
        r->stuck = strdup(path);
        r->repeated = 1;
        fails = 1;
    } else if (r->stuck && strcmp(r->stuck, path) == 0) {
        ++r->repeated;
        fails = r->times == 0 || r->repeated <= r->times;
    }
    pthread_mutex_unlock(&lock);
    return fails;
}

static int decide_locked(int op, const char* path, int* part);

/* Counts a call of kind op on path; returns the errno to fail it with, or 0.
 * *part is set when a read should first return half of what it was asked. */
static int decide(int op, const char* path, int* part) {
    if (part) *part = 0;
    if (!path || path[0] != '/') return 0;
    reload_rules();
    pthread_rwlock_rdlock(&rules_lock);
    const int error = decide_locked(op, path, part);
    pthread_rwlock_unlock(&rules_lock);
    return error;
}

static int decide_locked(int op, const char* path, int* part) {
    char line[PATH_MAX + 64];
    if (is_below(path, count_below, count_below_length)) {
        __atomic_add_fetch(&op_calls[op_index(op)], 1, __ATOMIC_RELAXED);
        if (trace_fd >= 0) {
            snprintf(line, sizeof line, "%s\t%s\n", kOpNames[op_index(op)], path);
            write_line(trace_fd, line);
        }
    }
    int error = 0;
    for (int i = 0; i < rule_count; ++i) {
        struct rule* r = &rules[i];
        if (!(r->ops & op) || !is_below(path, r->below, r->below_length)) continue;
        long n = __atomic_add_fetch(&r->calls, 1, __ATOMIC_RELAXED);
        if (!error && rule_fails(r, n, path)) {
            error = r->error;
            if (part) *part = r->part;
        }
    }
    if (error && log_fd >= 0) {
        snprintf(line, sizeof line, "%s\t%d\t%s%s\n", kOpNames[op_index(op)], error, path,
                 part && *part ? "\t(part way)" : "");
        write_line(log_fd, line);
    }
    return error;
}

/* --- opens ------------------------------------------------------------------------------ */

static mode_t mode_of(int flags, va_list arguments) {
    return (flags & O_CREAT) || (flags & O_TMPFILE) == O_TMPFILE ? (mode_t)va_arg(arguments, int)
                                                                 : 0;
}

static int opened(int fd, const char* path) {
    if (fd >= 0) remember_descriptor(fd, path);
    return fd;
}

/* An open of a directory as such (O_DIRECTORY) is a listing's open. */
#define OPEN_CHECK(directory, path)                                           \
    char full[PATH_MAX];                                                      \
    absolute(directory, path, full);                                          \
    int error = decide((flags & O_DIRECTORY) ? kOpendir : kOpen, full, NULL); \
    if (error) {                                                              \
        errno = error;                                                        \
        return -1;                                                            \
    }

#define OPEN(name)                                    \
    int name(const char* path, int flags, ...) {      \
        REAL(name);                                   \
        va_list arguments;                            \
        va_start(arguments, flags);                   \
        mode_t mode = mode_of(flags, arguments);      \
        va_end(arguments);                            \
        OPEN_CHECK(AT_FDCWD, path)                    \
        return opened(real(path, flags, mode), full); \
    }
OPEN(open)
OPEN(open64)

#define OPENAT(name)                                             \
    int name(int directory, const char* path, int flags, ...) {  \
        REAL(name);                                              \
        va_list arguments;                                       \
        va_start(arguments, flags);                              \
        mode_t mode = mode_of(flags, arguments);                 \
        va_end(arguments);                                       \
        OPEN_CHECK(directory, path)                              \
        return opened(real(directory, path, flags, mode), full); \
    }
OPENAT(openat)
OPENAT(openat64)

#define OPEN_2(name)                            \
    int name(const char* path, int flags) {     \
        REAL(name);                             \
        OPEN_CHECK(AT_FDCWD, path)              \
        return opened(real(path, flags), full); \
    }
OPEN_2(__open_2)
OPEN_2(__open64_2)

#define OPENAT_2(name)                                     \
    int name(int directory, const char* path, int flags) { \
        REAL(name);                                        \
        OPEN_CHECK(directory, path)                        \
        return opened(real(directory, path, flags), full); \
    }
OPENAT_2(__openat_2)
OPENAT_2(__openat64_2)

int close(int fd) {
    REAL(close);
    if (fd >= 0 && fd < kDescriptors && __atomic_load_n(&descriptor_paths[fd], __ATOMIC_RELAXED)) {
        remember_descriptor(fd, NULL);
    }
    return real(fd);
}

/* --- reads -------------------------------------------------------------------------------- */

/* The errno a read on fd fails with now, or 0; *half set when it is to return
 * half of what it was asked first (and the next read fails). */
static int read_fault(int fd, size_t count, size_t* half) {
    *half = 0;
    char path[PATH_MAX];
    descriptor_path(fd, path);
    int pending = 0;
    if (fd >= 0 && fd < kDescriptors) {
        pending = __atomic_exchange_n(&fail_next_read[fd], 0, __ATOMIC_RELAXED);
    }
    if (!path[0]) return 0; /* a pending failure was for a descriptor since closed */
    if (pending) return pending;
    int part = 0;
    int error = decide(kRead, path, &part);
    if (error && part && count > 1 && fd < kDescriptors) {
        *half = count / 2;
        __atomic_store_n(&fail_next_read[fd], error, __ATOMIC_RELAXED);
        return 0;
    }
    return error;
}

ssize_t read(int fd, void* buffer, size_t count) {
    REAL(read);
    size_t half;
    int error = read_fault(fd, count, &half);
    if (error) {
        errno = error;
        return -1;
    }
    return real(fd, buffer, half ? half : count);
}

#define PREAD(name, offset_type)                                           \
    ssize_t name(int fd, void* buffer, size_t count, offset_type offset) { \
        REAL(name);                                                        \
        size_t half;                                                       \
        int error = read_fault(fd, count, &half);                          \
        if (error) {                                                       \
            errno = error;                                                 \
            return -1;                                                     \
        }                                                                  \
        return real(fd, buffer, half ? half : count, offset);              \
    }
PREAD(pread, off_t)
PREAD(pread64, off64_t)

ssize_t readv(int fd, const struct iovec* vector, int count) {
    REAL(readv);
    size_t half;
    int error = read_fault(fd, 0, &half);
    if (error) {
        errno = error;
        return -1;
    }
    return real(fd, vector, count);
}

/* --- listings ---------------------------------------------------------------------------- */

DIR* opendir(const char* path) {
    REAL(opendir);
    char full[PATH_MAX];
    absolute(AT_FDCWD, path, full);
    int error = decide(kOpendir, full, NULL);
    if (error) {
        errno = error;
        return NULL;
    }
    DIR* stream = real(path);
    remember_stream(stream, full);
    return stream;
}

DIR* fdopendir(int fd) {
    REAL(fdopendir);
    char full[PATH_MAX];
    descriptor_path(fd, full);
    int error = full[0] ? decide(kOpendir, full, NULL) : 0;
    if (error) {
        errno = error;
        return NULL;
    }
    DIR* stream = real(fd);
    remember_stream(stream, full);
    return stream;
}

static int readdir_fault(DIR* stream) {
    char path[PATH_MAX];
    stream_path(stream, path);
    return path[0] ? decide(kReaddir, path, NULL) : 0;
}

struct dirent* readdir(DIR* stream) {
    REAL(readdir);
    int error = readdir_fault(stream);
    if (error) {
        errno = error;
        return NULL;
    }
    return real(stream);
}

struct dirent64* readdir64(DIR* stream) {
    REAL(readdir64);
    int error = readdir_fault(stream);
    if (error) {
        errno = error;
        return NULL;
    }
    return real(stream);
}

ssize_t getdents64(int fd, void* buffer, size_t length) {
    REAL(getdents64);
    char path[PATH_MAX];
    descriptor_path(fd, path);
    int error = path[0] ? decide(kReaddir, path, NULL) : 0;
    if (error) {
        errno = error;
        return -1;
    }
    return real(fd, buffer, length);
}

int closedir(DIR* stream) {
    REAL(closedir);
    forget_stream(stream);
    return real(stream);
}

/* --- stat by path ----------------------------------------------------------------------- */

#define STAT_CHECK(directory, path)        \
    char full[PATH_MAX];                   \
    absolute(directory, path, full);       \
    int error = decide(kStat, full, NULL); \
    if (error) {                           \
        errno = error;                     \
        return -1;                         \
    }

#define STAT(name, type)                     \
    int name(const char* path, type* info) { \
        REAL(name);                          \
        STAT_CHECK(AT_FDCWD, path)           \
        return real(path, info);             \
    }
STAT(stat, struct stat)
STAT(stat64, struct stat64)
STAT(lstat, struct stat)
STAT(lstat64, struct stat64)

#define STATAT(name, type)                                             \
    int name(int directory, const char* path, type* info, int flags) { \
        REAL(name);                                                    \
        STAT_CHECK(directory, path)                                    \
        return real(directory, path, info, flags);                     \
    }
STATAT(fstatat, struct stat)
STATAT(fstatat64, struct stat64)

int statx(int directory, const char* path, int flags, unsigned mask, struct statx* info) {
    REAL(statx);
    STAT_CHECK(directory, path)
    return real(directory, path, flags, mask, info);
}

int access(const char* path, int mode) {
    REAL(access);
    STAT_CHECK(AT_FDCWD, path)
    return real(path, mode);
}
