#include "ChildProgram.h"

#include "OptionsFile.h"
#include "Patience.h"

#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <fstream>
#include <spawn.h>
#include <string_view>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

std::string ReadText(const std::filesystem::path& file)
{
    std::ifstream in(file);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

void WriteOptionsFile(const TRoutingOptions& options)
{
    std::ofstream(OptionsFileName, std::ios::binary).write(reinterpret_cast<const char*>(&options), sizeof options);
}

ChildProgram::ChildProgram(const char* program, std::vector<std::string> arguments, const char* workingDirectory,
                           const std::string& name)
    : m_out(std::filesystem::current_path() / (name + ".out")), m_err(std::filesystem::current_path() / (name + ".err"))
{
    arguments.insert(arguments.begin(), program);
    std::vector<char*> argv;
    for (auto& argument : arguments)
        argv.push_back(argument.data());
    argv.push_back(nullptr);
    std::vector<char*> env;
    for (char** entry = environ; *entry; ++entry) {
        const std::string_view name(*entry);
        if (!name.starts_with("DISPLAY=") && !name.starts_with("WAYLAND_DISPLAY=") &&
            !name.starts_with("QT_QPA_PLATFORM="))
            env.push_back(*entry);
    }
    env.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, m_out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, m_err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (workingDirectory)
        posix_spawn_file_actions_addchdir_np(&actions, workingDirectory);
    if (posix_spawn(&m_pid, argv[0], &actions, nullptr, argv.data(), env.data()) != 0)
        m_pid = -1;
    posix_spawn_file_actions_destroy(&actions);
}

ChildProgram::~ChildProgram()
{
    if (m_pid > 0) {
        kill(m_pid, SIGKILL);
        waitpid(m_pid, nullptr, 0);
    }
}

void ChildProgram::signal(int number)
{
    // kill(-1) would signal every process the user may.
    if (m_pid > 0)
        kill(m_pid, number);
}

int ChildProgram::wait()
{
    int status = 0;
    if (m_pid <= 0 || !Poll([&] { return waitpid(m_pid, &status, WNOHANG) == m_pid; }, PatienceMs))
        return -1;
    m_pid = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}
