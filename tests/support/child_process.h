#pragma once

#include <chrono>
#include <map>
#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

// A program started with posix_spawn, with its standard output and error going wherever the
// test says (a pipe it reads, a file). Killed and reaped when the object ends, if it still
// runs.
class ChildProcess {
public:
    struct Start {
        std::vector<std::string> arguments; // the program first
        // Changes to this process's environment: a value sets, nullopt removes.
        std::map<std::string, std::optional<std::string>> environment;
        int standardOutput = -1; // a descriptor to hand over; -1 for /dev/null
        int standardError = -1;
    };

    explicit ChildProcess(const Start& start);
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    pid_t pid() const { return pid_; }
    bool running() const { return !status_; }

    void signal(int number) const;

    // Waits for the end; the wait status (as waitpid gives it), or nullopt if the program
    // still runs after `timeout`.
    std::optional<int> wait(std::chrono::milliseconds timeout);

private:
    pid_t pid_ = -1;
    std::optional<int> status_;
};
