#include "support/command.hpp"

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace pelmo::test {

CommandResult run_command(const std::string& command_line, const std::string& stdin_text) {
    TempDir tmp;
    tmp.write("stdin", stdin_text);
    const std::string full = "(" + command_line + ") <" + tmp.path("stdin") + " >" +
                             tmp.path("stdout") + " 2>" + tmp.path("stderr");
    const int raw = std::system(full.c_str());
    CommandResult r;
    r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    r.out = tmp.read("stdout");
    r.err = tmp.read("stderr");
    return r;
}

Process::Process(const std::vector<std::string>& argv, const std::function<void()>& in_child) {
    const std::string out = logs_.path("stdout"), err = logs_.path("stderr");
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    pid_ = ::fork();
    if (pid_ < 0) throw std::runtime_error("fork failed");
    if (pid_ == 0) {
        const int in = ::open("/dev/null", O_RDONLY);
        const int o = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        const int e = ::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (in < 0 || o < 0 || e < 0 || ::dup2(in, 0) < 0 || ::dup2(o, 1) < 0 || ::dup2(e, 2) < 0)
            ::_exit(127);
        for (const int s : {SIGINT, SIGTERM, SIGHUP}) std::signal(s, SIG_DFL);
        sigset_t none;
        sigemptyset(&none);
        ::sigprocmask(SIG_SETMASK, &none, nullptr);
        if (in_child) in_child();
        ::execv(args[0], args.data());
        ::_exit(127);
    }
}

Process::~Process() {
    if (running()) {
        ::kill(pid_, SIGKILL);
        wait();
    }
}

bool Process::reap(int options) {
    struct rusage usage {};
    if (::wait4(pid_, &status_, options, &usage) != pid_) return false;
    max_rss_kib_ = usage.ru_maxrss;
    return ended_ = true;
}

bool Process::running() {
    if (!ended_) reap(WNOHANG);
    return !ended_;
}

int Process::wait() {
    while (!ended_)
        if (!reap(0) && errno != EINTR) throw std::runtime_error("waitpid failed");
    return status_;
}

std::string pelmo_tool() {
#if defined(PELMO_TOOL_PATH) && defined(PELMO_TOOL_EMULATOR)
    return PELMO_TOOL_EMULATOR " " PELMO_TOOL_PATH;
#elif defined(PELMO_TOOL_PATH)
    return PELMO_TOOL_PATH;
#else
    throw std::runtime_error("the pelmo tool was not built");
#endif
}

std::vector<std::string> pelmo_tool_argv(const std::vector<std::string>& args) {
    std::vector<std::string> argv;
    std::istringstream words(pelmo_tool());
    for (std::string w; words >> w;) argv.push_back(w);
    argv.insert(argv.end(), args.begin(), args.end());
    return argv;
}

TempDir::TempDir() {
    std::string tmpl = (std::filesystem::temp_directory_path() / "pelmo-test-XXXXXX").string();
    if (::mkdtemp(tmpl.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    dir_ = tmpl;
}

TempDir::~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
}

void TempDir::write(const std::string& name, const std::string& content) const {
    std::ofstream f(path(name), std::ios::binary);
    f.write(content.data(), static_cast<std::streamsize>(content.size()));
}

std::string TempDir::read(const std::string& name) const {
    std::ifstream f(path(name), std::ios::binary);
    std::ostringstream s;
    s << f.rdbuf();
    return s.str();
}

}  // namespace pelmo::test
