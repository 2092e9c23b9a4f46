// The GUI candidate that was not built, measured: a process that has QtCore and QtDBus, as
// the agent has, loads a GUI module (gui_module.cpp, linking Qt Widgets) with dlopen,
// shows a popup the size of the popover through it, closes it and unloads the module.
// For the benchmarks only.
//   gui_dlopen MODULE X Y
// Each line on stdout: a step, CLOCK_MONOTONIC in ns, then VmRSS and Private_Dirty in KiB.
#include <QCoreApplication>
#include <QDBusConnection>
#include <QTimer>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <dlfcn.h>

namespace {

long field(const char* path, const char* key) {
    std::FILE* file = std::fopen(path, "r");
    if (!file) {
        return -1;
    }
    char line[256];
    long value = -1;
    while (std::fgets(line, sizeof line, file)) {
        if (std::strncmp(line, key, std::strlen(key)) == 0) {
            value = std::atol(line + std::strlen(key));
            break;
        }
    }
    std::fclose(file);
    return value;
}

} // namespace

extern "C" void gui_dlopen_report(const char* step) {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    std::printf("%s %lld %ld %ld\n", step, now.tv_sec * 1000000000LL + now.tv_nsec,
                field("/proc/self/status", "VmRSS:"),
                field("/proc/self/smaps_rollup", "Private_Dirty:"));
    std::fflush(stdout);
}

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: gui_dlopen MODULE X Y\n");
        return 2;
    }
    {
        // QtCore's and QtDBus's pages in use as in the agent: an application object, a
        // session bus connection and a turn of the event loop. Gone again before the module
        // runs, which the agent's could not be: Qt allows one application object at a time.
        QCoreApplication core(argc, argv);
        QDBusConnection::sessionBus().isConnected();
        QTimer::singleShot(0, &core, &QCoreApplication::quit);
        core.exec();
    }
    gui_dlopen_report("before");
    void* module = dlopen(argv[1], RTLD_NOW | RTLD_LOCAL);
    if (!module) {
        std::fprintf(stderr, "gui_dlopen: %s\n", dlerror());
        return 1;
    }
    gui_dlopen_report("loaded");
    using Show = int (*)(int, char**, int, int);
    const auto show = reinterpret_cast<Show>(dlsym(module, "gui_module_show"));
    const int status = show(argc, argv, std::atoi(argv[2]), std::atoi(argv[3]));
    gui_dlopen_report("closed");
    dlclose(module);
    gui_dlopen_report("unloaded");
    return status;
}
