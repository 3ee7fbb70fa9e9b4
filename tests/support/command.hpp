// Running the pelmo tool and other commands in end-to-end tests.
#pragma once

#include <sys/types.h>

#include <functional>
#include <string>
#include <vector>

namespace pelmo::test {

struct CommandResult {
    int status = -1;  // exit status
    std::string out;  // standard output
    std::string err;  // standard error
};

/// Runs a shell command line, optionally feeding stdin_text to it.
CommandResult run_command(const std::string& command_line, const std::string& stdin_text = "");

/// A fresh temporary directory, removed when the object dies.
class TempDir {
  public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    std::string path(const std::string& name) const { return dir_ + "/" + name; }
    void write(const std::string& name, const std::string& content) const;
    std::string read(const std::string& name) const;

  private:
    std::string dir_;
};

/// A command started in the background, without a shell: standard input from
/// /dev/null, standard output and error kept, and SIGINT, SIGTERM and SIGHUP at their
/// default actions whatever the test runner left them at.
class Process {
  public:
    /// Starts argv; in_child runs in the new process just before the exec (its pid is
    /// already the command's).
    explicit Process(const std::vector<std::string>& argv,
                     const std::function<void()>& in_child = {});
    /// Kills the command if it still runs.
    ~Process();
    Process(const Process&) = delete;
    Process& operator=(const Process&) = delete;

    pid_t pid() const noexcept { return pid_; }
    /// Whether the command still runs (it is reaped once it has ended).
    bool running();
    /// Waits for the end; returns the status as waitpid() gives it.
    int wait();
    /// The peak resident set of the ended command, in KiB.
    long max_rss_kib() const noexcept { return max_rss_kib_; }
    /// What the command wrote to standard error, once it has ended.
    std::string err() const { return logs_.read("stderr"); }

  private:
    TempDir logs_;
    pid_t pid_ = -1;
    int status_ = -1;
    long max_rss_kib_ = 0;
    bool ended_ = false;

    // waitpid with the usage of an ended command kept; true once it has ended.
    bool reap(int options);
};

/// A path in single quotes, for a shell command line (the paths the tests make hold none).
inline std::string q(const std::string& path) {
    return "'" + path + "'";
}

/// The command that runs the pelmo tool under test: its path, after the emulator that
/// runs it in a cross build.
std::string pelmo_tool();
/// The same as the words of a command to execute without a shell, followed by args.
std::vector<std::string> pelmo_tool_argv(const std::vector<std::string>& args = {});

}  // namespace pelmo::test
