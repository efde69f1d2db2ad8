#pragma once
// Starts the built program as a child process with an environment of the test's
// choosing, and waits for it, for tests that check the program as a whole.

#include <sys/types.h>

#include <chrono>
#include <cstddef>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace hrd::test {

class child_process {
public:
    // Starts `program` with exactly `environment`; stdout and stderr go to `output_file`.
    child_process(const std::string& program, const std::vector<std::string>& args,
                  const std::map<std::string, std::string>& environment,
                  const std::string& output_file);
    ~child_process();  // kills the child if it still runs
    child_process(const child_process&) = delete;
    child_process& operator=(const child_process&) = delete;

    pid_t pid() const { return m_pid; }
    void signal(int number) const;
    // The exit code, or nullopt when it did not end within `timeout` (or died of a signal).
    std::optional<int> wait(std::chrono::milliseconds timeout);

private:
    pid_t m_pid = -1;
    bool m_reaped = false;
};

// Polls `path` until it contains `text`; false after `timeout`.
bool wait_for_text(const std::string& path, const std::string& text,
                   std::chrono::milliseconds timeout);

// How many descriptors this process holds open: the same before and after a piece
// of work that is meant to close all it opens, on success and on failure.
std::size_t open_descriptor_count();

// The built program (the build folder's "hoardly").
std::string program_path();

}  // namespace hrd::test
