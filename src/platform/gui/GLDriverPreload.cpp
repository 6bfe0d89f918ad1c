#include "platform/gui/GLDriverPreload.h"

#include <dlfcn.h>

namespace {

// Declared here rather than taken from Xlib's and GLX's headers: the libraries are opened only when this
// runs, and only the few entry points below are used.
struct XDisplay;
using OpenDisplay = XDisplay *(*)(const char *);
using CloseDisplay = int (*)(XDisplay *);
using DefaultScreen = int (*)(XDisplay *);
using Free = int (*)(void *);
using ChooseConfig = void **(*)(XDisplay *, int, const int *, int *);

// A library opened here, closed again with it.
struct Library {
    void *handle;
    Library(const char *name, int flags) : handle(dlopen(name, RTLD_NOW | RTLD_LOCAL | flags)) {}
    ~Library()
    {
        if (handle)
            dlclose(handle);
    }
    Library(const Library &) = delete;
    Library &operator=(const Library &) = delete;
    template <class F> F function(const char *name) const
    {
        return handle ? reinterpret_cast<F>(dlsym(handle, name)) : nullptr;
    }
};

} // namespace

bool GLDriverPreload::load()
{
    const Library x11("libX11.so.6", 0);
    // GLX stays, and the driver it loads with it: the stage is about to use them.
    const Library glx("libGLX.so.0", RTLD_NODELETE);
    const auto openDisplay = x11.function<OpenDisplay>("XOpenDisplay");
    const auto closeDisplay = x11.function<CloseDisplay>("XCloseDisplay");
    const auto defaultScreen = x11.function<DefaultScreen>("XDefaultScreen");
    const auto free = x11.function<Free>("XFree");
    const auto chooseConfig = glx.function<ChooseConfig>("glXChooseFBConfig");
    if (!openDisplay || !closeDisplay || !defaultScreen || !free || !chooseConfig)
        return false;
    XDisplay *display = openDisplay(nullptr);
    if (!display)
        return false;
    // Asking for the screen's configurations makes GLX pick the vendor and load its driver.
    constexpr int none = 0;
    const int attributes[] = {none};
    int count = 0;
    void **configs = chooseConfig(display, defaultScreen(display), attributes, &count);
    if (configs)
        free(configs);
    closeDisplay(display);
    return configs != nullptr;
}
