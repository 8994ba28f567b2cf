// Older glibc for libOltranative_x64.so. The library is linked on a recent glibc, which
// gives the pthread functions (moved into libc in 2.34), stat (2.33), fcntl64 (2.28),
// __libc_single_threaded (2.32) and _dl_find_object (2.35) new symbol versions; the
// statically linked C++ runtime and unwinder refer to them too. A host system with an
// older glibc would then refuse to load the library. The link wraps every such reference
// (-Wl,--wrap=NAME, see CMakeLists.txt) and the wrappers below call the same functions
// under their old versions, so the library needs glibc 2.17 at most.
#if defined(__linux__) && defined(__x86_64__)

#include <dlfcn.h>
#include <link.h>
#include <pthread.h>
#include <signal.h>
#include <stdarg.h>
#include <stdint.h>
#include <sys/stat.h>

// Binds `local` to `name` at an old symbol version.
#define OLD_VERSION(local, name, version) __asm__(".symver " #local "," #name "@" version)

extern "C" {

OLD_VERSION(old_pthread_once, pthread_once, "GLIBC_2.2.5");
OLD_VERSION(old_pthread_key_create, pthread_key_create, "GLIBC_2.2.5");
OLD_VERSION(old_pthread_key_delete, pthread_key_delete, "GLIBC_2.2.5");
OLD_VERSION(old_pthread_mutexattr_init, pthread_mutexattr_init, "GLIBC_2.2.5");
OLD_VERSION(old_pthread_mutexattr_destroy, pthread_mutexattr_destroy, "GLIBC_2.2.5");
OLD_VERSION(old_pthread_mutexattr_settype, pthread_mutexattr_settype, "GLIBC_2.2.5");
OLD_VERSION(old_pthread_rwlock_init, pthread_rwlock_init, "GLIBC_2.2.5");
OLD_VERSION(old_pthread_rwlock_destroy, pthread_rwlock_destroy, "GLIBC_2.2.5");
OLD_VERSION(old_pthread_rwlock_rdlock, pthread_rwlock_rdlock, "GLIBC_2.2.5");
OLD_VERSION(old_pthread_rwlock_wrlock, pthread_rwlock_wrlock, "GLIBC_2.2.5");
OLD_VERSION(old_pthread_rwlock_unlock, pthread_rwlock_unlock, "GLIBC_2.2.5");
OLD_VERSION(old_pthread_sigmask, pthread_sigmask, "GLIBC_2.2.5");
OLD_VERSION(old_xstat, __xstat, "GLIBC_2.2.5");
OLD_VERSION(old_fcntl, fcntl, "GLIBC_2.2.5");

int old_pthread_once(pthread_once_t*, void (*)());
int old_pthread_key_create(pthread_key_t*, void (*)(void*));
int old_pthread_key_delete(pthread_key_t);
int old_pthread_mutexattr_init(pthread_mutexattr_t*);
int old_pthread_mutexattr_destroy(pthread_mutexattr_t*);
int old_pthread_mutexattr_settype(pthread_mutexattr_t*, int);
int old_pthread_rwlock_init(pthread_rwlock_t*, const pthread_rwlockattr_t*);
int old_pthread_rwlock_destroy(pthread_rwlock_t*);
int old_pthread_rwlock_rdlock(pthread_rwlock_t*);
int old_pthread_rwlock_wrlock(pthread_rwlock_t*);
int old_pthread_rwlock_unlock(pthread_rwlock_t*);
int old_pthread_sigmask(int, const sigset_t*, sigset_t*);
int old_xstat(int, const char*, struct stat*);
int old_fcntl(int, int, ...);

int __wrap_pthread_once(pthread_once_t* o, void (*f)()) { return old_pthread_once(o, f); }
int __wrap_pthread_key_create(pthread_key_t* k, void (*d)(void*)) { return old_pthread_key_create(k, d); }
// The C++ runtime takes this one's address to tell whether threads are available.
int __wrap___pthread_key_create(pthread_key_t* k, void (*d)(void*)) { return old_pthread_key_create(k, d); }
int __wrap_pthread_key_delete(pthread_key_t k) { return old_pthread_key_delete(k); }
int __wrap_pthread_mutexattr_init(pthread_mutexattr_t* a) { return old_pthread_mutexattr_init(a); }
int __wrap_pthread_mutexattr_destroy(pthread_mutexattr_t* a) { return old_pthread_mutexattr_destroy(a); }
int __wrap_pthread_mutexattr_settype(pthread_mutexattr_t* a, int t) { return old_pthread_mutexattr_settype(a, t); }
int __wrap_pthread_rwlock_init(pthread_rwlock_t* l, const pthread_rwlockattr_t* a)
{
    return old_pthread_rwlock_init(l, a);
}
int __wrap_pthread_rwlock_destroy(pthread_rwlock_t* l) { return old_pthread_rwlock_destroy(l); }
int __wrap_pthread_rwlock_rdlock(pthread_rwlock_t* l) { return old_pthread_rwlock_rdlock(l); }
int __wrap_pthread_rwlock_wrlock(pthread_rwlock_t* l) { return old_pthread_rwlock_wrlock(l); }
int __wrap_pthread_rwlock_unlock(pthread_rwlock_t* l) { return old_pthread_rwlock_unlock(l); }
int __wrap_pthread_sigmask(int how, const sigset_t* set, sigset_t* old) { return old_pthread_sigmask(how, set, old); }

// Before 2.33 stat was __xstat with the structure's version (1 on x86_64).
int __wrap_stat(const char* path, struct stat* buf) { return old_xstat(1, path, buf); }

// fcntl64 is fcntl on x86_64; every command takes at most one pointer-sized argument.
int __wrap_fcntl64(int fd, int cmd, ...)
{
    va_list ap;
    va_start(ap, cmd);
    void* arg = va_arg(ap, void*);
    va_end(ap);
    return old_fcntl(fd, cmd, arg);
}

// Read by the C++ runtime to skip atomic operations in a single-threaded process; "not
// known to be single-threaded" is always correct.
char __wrap___libc_single_threaded = 0;

// The unwinder asks which loaded object holds a code address, to find its exception
// frames. Answered as it was before 2.35: by walking the program headers.
namespace {
struct FindObject {
    uintptr_t pc;
    struct dl_find_object* result;
};

int visitObject(struct dl_phdr_info* info, size_t, void* data)
{
    auto* find = static_cast<FindObject*>(data);
    uintptr_t low = UINTPTR_MAX, high = 0;
    void* ehFrame = nullptr;
    bool holds = false;
    for (int i = 0; i < info->dlpi_phnum; ++i) {
        const ElfW(Phdr)& ph = info->dlpi_phdr[i];
        const uintptr_t start = info->dlpi_addr + ph.p_vaddr;
        if (ph.p_type == PT_LOAD) {
            if (find->pc >= start && find->pc < start + ph.p_memsz) holds = true;
            if (start < low) low = start;
            if (start + ph.p_memsz > high) high = start + ph.p_memsz;
        } else if (ph.p_type == PT_GNU_EH_FRAME) {
            ehFrame = reinterpret_cast<void*>(start);
        }
    }
    if (!holds) return 0;
    find->result->dlfo_flags = 0;
    find->result->dlfo_map_start = reinterpret_cast<void*>(low);
    find->result->dlfo_map_end = reinterpret_cast<void*>(high);
    find->result->dlfo_link_map = nullptr;
    find->result->dlfo_eh_frame = ehFrame;
    return 1;
}
} // namespace

int __wrap__dl_find_object(void* pc, struct dl_find_object* result)
{
    FindObject find{reinterpret_cast<uintptr_t>(pc), result};
    return dl_iterate_phdr(visitObject, &find) == 1 ? 0 : -1;
}

} // extern "C"

#endif
