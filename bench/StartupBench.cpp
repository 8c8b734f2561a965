// Start-up time, idle CPU and memory of the built program, on the X display
// in DISPLAY (Xvfb will do). For each run it starts the program in a fresh
// directory with an options file that opens nothing, notes when the start
// screen and the main window are mapped and when the start screen goes
// away, then ends it. Then it leaves one copy idle for a minute.
//
//   startup_bench PROGRAM [RUNS] [IDLE_SECONDS]

#include <xcb/xcb.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

std::string WindowName(xcb_connection_t* x, xcb_window_t window)
{
    const auto cookie = xcb_get_property(x, 0, window, XCB_ATOM_WM_NAME, XCB_GET_PROPERTY_TYPE_ANY, 0, 256);
    xcb_get_property_reply_t* reply = xcb_get_property_reply(x, cookie, nullptr);
    std::string name;
    if (reply) {
        name.assign(static_cast<const char*>(xcb_get_property_value(reply)), xcb_get_property_value_length(reply));
        free(reply);
    }
    return name;
}

struct Timings {
    double startScreenMs = -1, mainWindowMs = -1, startedMs = -1;
};

// Waits for the start screen and the main window to be mapped and the start
// screen to be unmapped again.
Timings Watch(xcb_connection_t* x, Clock::time_point start, int seconds)
{
    Timings t;
    xcb_window_t startScreen = 0;
    const auto deadline = start + std::chrono::seconds(seconds);
    const auto since = [&] { return std::chrono::duration<double, std::milli>(Clock::now() - start).count(); };
    pollfd fd{xcb_get_file_descriptor(x), POLLIN, 0};
    while (t.startedMs < 0 && Clock::now() < deadline) {
        xcb_generic_event_t* event = xcb_poll_for_event(x);
        if (!event) {
            poll(&fd, 1, 5);
            continue;
        }
        const uint8_t type = event->response_type & 0x7F;
        if (type == XCB_MAP_NOTIFY) {
            const xcb_window_t window = reinterpret_cast<xcb_map_notify_event_t*>(event)->window;
            const std::string name = WindowName(x, window);
            if (name == "About" && t.startScreenMs < 0) {
                t.startScreenMs = since();
                startScreen = window;
            } else if (name == " Zozuruvav - Roraridov" && t.mainWindowMs < 0) {
                t.mainWindowMs = since();
            }
        } else if (type == XCB_UNMAP_NOTIFY &&
                   reinterpret_cast<xcb_unmap_notify_event_t*>(event)->window == startScreen && startScreen) {
            t.startedMs = since();
        }
        free(event);
    }
    return t;
}

pid_t Launch(const std::string& program, const std::filesystem::path& directory)
{
    const auto previous = std::filesystem::current_path();
    std::filesystem::current_path(directory);
    pid_t pid = -1;
    const char* args[] = {program.c_str(), nullptr};
    posix_spawn(&pid, program.c_str(), nullptr, nullptr, const_cast<char**>(args), environ);
    std::filesystem::current_path(previous);
    return pid;
}

void End(pid_t pid)
{
    kill(pid, SIGTERM);
    int status;
    waitpid(pid, &status, 0);
}

struct ProcessUse {
    double cpuSeconds;
    long rssKiB;
};

ProcessUse Use(pid_t pid)
{
    ProcessUse use{0, 0};
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    std::getline(stat, line);
    // Fields after the command name, which is in parentheses: utime is the
    // 12th of them, stime the 13th.
    std::string rest = line.substr(line.rfind(')') + 2);
    std::vector<std::string> fields;
    for (size_t at = 0, next; at < rest.size(); at = next + 1) {
        next = rest.find(' ', at);
        if (next == std::string::npos)
            next = rest.size();
        fields.push_back(rest.substr(at, next - at));
    }
    if (fields.size() > 12)
        use.cpuSeconds = (std::stod(fields[11]) + std::stod(fields[12])) / sysconf(_SC_CLK_TCK);
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    while (std::getline(status, line)) {
        if (line.rfind("VmRSS:", 0) == 0)
            use.rssKiB = std::stol(line.substr(6));
    }
    return use;
}

double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values.empty() ? -1 : values[values.size() / 2];
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s PROGRAM [RUNS] [IDLE_SECONDS]\n", argv[0]);
        return 2;
    }
    const std::string program = std::filesystem::absolute(argv[1]).string();
    const int runs = argc > 2 ? std::atoi(argv[2]) : 15;
    const int idleSeconds = argc > 3 ? std::atoi(argv[3]) : 60;

    xcb_connection_t* x = xcb_connect(nullptr, nullptr);
    if (xcb_connection_has_error(x)) {
        std::fprintf(stderr, "no X display\n");
        return 1;
    }
    const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(x)).data;
    const uint32_t mask = XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
    xcb_change_window_attributes(x, screen->root, XCB_CW_EVENT_MASK, &mask);
    xcb_flush(x);

    const auto directory = std::filesystem::temp_directory_path() / ("roraridov-bench-" + std::to_string(getpid()));
    std::filesystem::create_directories(directory);
    const char nothing[44] = {};
    std::ofstream(directory / "Roraridov.opt", std::ios::binary).write(nothing, sizeof nothing);

    std::vector<double> startScreen, mainWindow, started;
    for (int run = 0; run < runs; ++run) {
        const auto start = Clock::now();
        const pid_t pid = Launch(program, directory);
        const Timings t = Watch(x, start, 20);
        End(pid);
        if (t.mainWindowMs < 0) {
            std::fprintf(stderr, "run %d: the main window never came\n", run);
            continue;
        }
        startScreen.push_back(t.startScreenMs);
        mainWindow.push_back(t.mainWindowMs);
        started.push_back(t.startedMs);
    }
    std::printf("start-up over %zu runs, medians: start screen mapped %.1f ms, main window mapped %.1f ms, "
                "start-up done (start screen gone) %.1f ms\n",
                mainWindow.size(), Median(startScreen), Median(mainWindow), Median(started));

    const auto start = Clock::now();
    const pid_t pid = Launch(program, directory);
    Watch(x, start, 20);
    std::this_thread::sleep_for(std::chrono::seconds(2));
    const ProcessUse before = Use(pid);
    std::this_thread::sleep_for(std::chrono::seconds(idleSeconds));
    const ProcessUse after = Use(pid);
    End(pid);
    std::printf("idle for %d s: CPU %.2f %% of one core; resident memory %ld KiB at start, %ld KiB after\n",
                idleSeconds, 100.0 * (after.cpuSeconds - before.cpuSeconds) / idleSeconds, before.rssKiB,
                after.rssKiB);
    std::filesystem::remove_all(directory);
    xcb_disconnect(x);
    return 0;
}
