// Running the pelmo tool and other commands in end-to-end tests.
#pragma once

#include <string>

namespace pelmo::test {

struct CommandResult {
    int status = -1;  // exit status
    std::string out;  // standard output
    std::string err;  // standard error
};

/// Runs a shell command line, optionally feeding stdin_text to it.
CommandResult run_command(const std::string& command_line, const std::string& stdin_text = "");

/// The command that runs the pelmo tool under test: its path, after the emulator that
/// runs it in a cross build.
std::string pelmo_tool();

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

}  // namespace pelmo::test
