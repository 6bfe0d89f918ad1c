// Loads libmpv and FFmpeg on the first call of one of their functions. Together they bring some two
// hundred libraries, whose loading at start-up would hold back the window by far more than the window
// itself takes. Each function the programs call is a trampoline (generated from symbols.txt) that jumps
// through its group's table; an empty entry comes here, and the function's address goes into the table.
#include <dlfcn.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

extern "C" void *roadloom_lazy_lookup(unsigned group, unsigned index, void **table, const char *const *names);

namespace {

// The libraries of each group (mpv, FFmpeg) by their sonames, as found when configuring, ':' between.
const char *const groups[] = {ROADLOOM_LAZY_MPV, ROADLOOM_LAZY_FFMPEG};
constexpr unsigned groupCount = 2;
constexpr size_t maxLibraries = 8;

std::mutex mutex;
std::array<std::array<void *, maxLibraries>, groupCount> handles{};

} // namespace

void *roadloom_lazy_lookup(unsigned group, unsigned index, void **table, const char *const *names)
{
    const std::lock_guard lock(mutex);
    if (void *known = __atomic_load_n(&table[index], __ATOMIC_ACQUIRE))
        return known;
    const char *name = names[index];
    if (group >= groupCount)
        std::abort();
    const char *list = groups[group];
    for (size_t library = 0; library < maxLibraries && *list; ++library) {
        const char *end = std::strchr(list, ':');
        const size_t length = end ? size_t(end - list) : std::strlen(list);
        char soname[256];
        if (length < sizeof soname) {
            std::memcpy(soname, list, length);
            soname[length] = '\0';
            void *&handle = handles[group][library];
            if (!handle)
                handle = dlopen(soname, RTLD_NOW | RTLD_GLOBAL);
            if (void *function = handle ? dlsym(handle, name) : nullptr) {
                __atomic_store_n(&table[index], function, __ATOMIC_RELEASE);
                return function;
            }
        }
        list = end ? end + 1 : list + length;
    }
    // Nothing sensible can go on without it, as when the program could not have started without it.
    const char *error = dlerror();
    std::fprintf(stderr, "roadloom: cannot load %s from %s: %s\n", name, groups[group], error ? error : "");
    std::abort();
}
