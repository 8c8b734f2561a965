#pragma once

#include "Patience.h"
#include "RoutingSettings.h"

#include <filesystem>
#include <functional>
#include <string>
#include <sys/types.h>
#include <vector>

std::string ReadText(const std::filesystem::path& file);

// The settings record as the program saves it, in the current directory.
void WriteOptionsFile(const TRoutingOptions& options);

// The built program as a user starts it from a shell or a service: a child
// process with no display in its environment. Its standard output and error
// go to files in the current directory, named after `name` so that copies
// running side by side keep theirs apart.
class ChildProgram {
public:
    ChildProgram(const char* program, std::vector<std::string> arguments, const char* workingDirectory = nullptr,
                 const std::string& name = "program");
    ~ChildProgram();
    ChildProgram(const ChildProgram&) = delete;
    ChildProgram& operator=(const ChildProgram&) = delete;

    void signal(int number);
    // The exit status, or -1 when it did not end normally in time.
    int wait();
    std::string out() const { return ReadText(m_out); }
    std::string err() const { return ReadText(m_err); }

private:
    std::filesystem::path m_out, m_err;
    pid_t m_pid = -1;
};
