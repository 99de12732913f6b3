// Times programs from exec to their first mapped window and to idle, on the
// X display in $DISPLAY, which must have no window manager: a top-level
// window is then mapped as a child of the root window.
//   startup_timer ROUNDS PROGRAM...
// Each round starts every program once, in turn; the best of the rounds is
// printed for each, with its RSS once idle and the ratios to the first.
// Idle is the moment after which the process used no CPU for 150 ms, summed
// over its threads from /proc/PID/task/*/schedstat.
#include <X11/Xlib.h>

#include <dirent.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <limits>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

double millisecondsSince(Clock::time_point start)
{
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// CPU time of every thread of the process, in nanoseconds.
unsigned long long cpuTime(pid_t pid)
{
    unsigned long long total = 0;
    const std::string tasks = "/proc/" + std::to_string(pid) + "/task";
    DIR* dir = opendir(tasks.c_str());
    if (!dir)
        return 0;
    while (const dirent* entry = readdir(dir)) {
        if (entry->d_name[0] == '.')
            continue;
        std::ifstream stat(tasks + "/" + entry->d_name + "/schedstat");
        unsigned long long ns = 0;
        if (stat >> ns)
            total += ns;
    }
    closedir(dir);
    return total;
}

double residentMegabytes(pid_t pid)
{
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string key;
    while (status >> key) {
        if (key == "VmRSS:") {
            double kb = 0;
            status >> kb;
            return kb / 1024;
        }
        status.ignore(std::numeric_limits<std::streamsize>::max(), '\n');
    }
    return 0;
}

struct Sample {
    double mapped = 0, idle = 0, rss = 0;
};

Sample timeOnce(Display* display, char* program)
{
    while (XPending(display)) { // events of earlier rounds
        XEvent stale;
        XNextEvent(display, &stale);
    }
    const auto start = Clock::now();
    const pid_t pid = fork();
    if (pid == 0) {
        char* argv[] = {program, nullptr};
        execv(program, argv);
        _exit(127);
    }
    Sample sample;
    const int fd = ConnectionNumber(display);
    while (sample.mapped == 0) {
        while (XPending(display)) {
            XEvent event;
            XNextEvent(display, &event);
            if (event.type == MapNotify && sample.mapped == 0)
                sample.mapped = millisecondsSince(start);
        }
        if (sample.mapped == 0) {
            fd_set ready;
            FD_ZERO(&ready);
            FD_SET(fd, &ready);
            timeval wait{5, 0};
            if (select(fd + 1, &ready, nullptr, nullptr, &wait) <= 0) {
                std::fprintf(stderr, "%s: no window within 5 s\n", program);
                kill(pid, SIGKILL);
                waitpid(pid, nullptr, 0);
                std::exit(1);
            }
        }
    }
    unsigned long long last = cpuTime(pid);
    auto lastChange = Clock::now();
    while (std::chrono::duration<double, std::milli>(Clock::now() - lastChange).count() < 150) {
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
        if (const unsigned long long now = cpuTime(pid); now != last) {
            last = now;
            lastChange = Clock::now();
        }
    }
    sample.idle = std::chrono::duration<double, std::milli>(lastChange - start).count();
    sample.rss = residentMegabytes(pid);
    kill(pid, SIGTERM);
    waitpid(pid, nullptr, 0);
    return sample;
}

} // namespace

int main(int argc, char* argv[])
{
    if (argc < 3) {
        std::fprintf(stderr, "uso: %s GIRI PROGRAMMA...\n", argv[0]);
        return 2;
    }
    Display* display = XOpenDisplay(nullptr);
    if (!display) {
        std::fprintf(stderr, "nessuno schermo in DISPLAY\n");
        return 1;
    }
    XSelectInput(display, DefaultRootWindow(display), SubstructureNotifyMask);
    XSync(display, False);

    const int rounds = std::atoi(argv[1]);
    const int programs = argc - 2;
    std::vector<Sample> best(programs, Sample{1e300, 1e300, 1e300});
    for (int round = 0; round < rounds; ++round)
        for (int i = 0; i < programs; ++i) {
            const Sample s = timeOnce(display, argv[2 + i]);
            best[i].mapped = std::min(best[i].mapped, s.mapped);
            best[i].idle = std::min(best[i].idle, s.idle);
            best[i].rss = std::min(best[i].rss, s.rss);
        }
    std::printf("best of %d, interleaved: exec to first map, exec to idle, RSS when idle\n", rounds);
    for (int i = 0; i < programs; ++i) {
        std::printf("  %-40s %7.1f ms %7.1f ms %6.1f MB", argv[2 + i], best[i].mapped, best[i].idle, best[i].rss);
        if (i > 0)
            std::printf("   ratios to the first: %.2fx %.2fx %.2fx", best[i].mapped / best[0].mapped,
                        best[i].idle / best[0].idle, best[i].rss / best[0].rss);
        std::printf("\n");
    }
    XCloseDisplay(display);
}
