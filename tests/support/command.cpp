#include "support/command.hpp"

#include <sys/wait.h>
#include <unistd.h>

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

std::string pelmo_tool() {
#if defined(PELMO_TOOL_PATH) && defined(PELMO_TOOL_EMULATOR)
    return PELMO_TOOL_EMULATOR " " PELMO_TOOL_PATH;
#elif defined(PELMO_TOOL_PATH)
    return PELMO_TOOL_PATH;
#else
    throw std::runtime_error("the pelmo tool was not built");
#endif
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
