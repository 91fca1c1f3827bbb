// Faults on demand for end-to-end tests, loaded into rekmo with LD_PRELOAD.
// Only the tests set these variables; rekmo itself never reads them.
//   REKMO_FAULT_CLOSE=PATH          closing the file opened as PATH fails (EIO)
//   REKMO_FAULT_TRUNCATE=PATH:SIZE  PATH is cut (or extended) to SIZE bytes just
//                                   before its first read: after its size was
//                                   checked
//   REKMO_FAULT_ALLOC=SIZE          allocations of SIZE bytes or more fail
#include <dlfcn.h>
#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>

namespace {

std::atomic<int> close_fails_fd{-1};
std::atomic<int> truncate_fd{-1};

template <typename F>
F next(const char* name) {
    return reinterpret_cast<F>(dlsym(RTLD_NEXT, name));
}

void opened(const char* path, int fd) {
    if (fd < 0) return;
    if (const char* target = std::getenv("REKMO_FAULT_CLOSE"); target && std::strcmp(path, target) == 0)
        close_fails_fd = fd;
    if (const char* spec = std::getenv("REKMO_FAULT_TRUNCATE")) {
        const std::string s = spec;
        if (s.substr(0, s.rfind(':')) == path) truncate_fd = fd;
    }
}

int open_with(const char* name, const char* path, int flags, va_list args) {
    const mode_t mode = (flags & O_CREAT) != 0 ? static_cast<mode_t>(va_arg(args, int)) : 0;
    const int fd = next<int (*)(const char*, int, ...)>(name)(path, flags, mode);
    opened(path, fd);
    return fd;
}

const std::size_t alloc_limit = [] {
    const char* limit = std::getenv("REKMO_FAULT_ALLOC");
    return limit != nullptr ? static_cast<std::size_t>(std::atoll(limit)) : SIZE_MAX;
}();

}  // namespace

// The library's delete frees with free(): these take its place for new.
void* operator new(std::size_t size) {
    void* p = size < alloc_limit ? std::malloc(size == 0 ? 1 : size) : nullptr;
    if (p == nullptr) throw std::bad_alloc();
    return p;
}
void* operator new[](std::size_t size) { return operator new(size); }

extern "C" {

int open(const char* path, int flags, ...) {
    va_list args;
    va_start(args, flags);
    const int fd = open_with("open", path, flags, args);
    va_end(args);
    return fd;
}

int open64(const char* path, int flags, ...) {
    va_list args;
    va_start(args, flags);
    const int fd = open_with("open64", path, flags, args);
    va_end(args);
    return fd;
}

ssize_t read(int fd, void* buffer, size_t count) {
    if (fd >= 0 && truncate_fd.exchange(-1) == fd) {
        const std::string s = std::getenv("REKMO_FAULT_TRUNCATE");
        const std::string path = s.substr(0, s.rfind(':'));
        if (::truncate(path.c_str(), std::atoll(s.c_str() + s.rfind(':') + 1)) != 0) std::abort();
    }
    return next<ssize_t (*)(int, void*, size_t)>("read")(fd, buffer, count);
}

int close(int fd) {
    const int rc = next<int (*)(int)>("close")(fd);
    if (fd >= 0 && close_fails_fd.exchange(-1) == fd) {
        errno = EIO;
        return -1;
    }
    return rc;
}

}  // extern "C"
