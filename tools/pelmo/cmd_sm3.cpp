// pelmo sm3: sha256sum-style digests, streamed in fixed-size chunks.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <string>
#include <vector>

#include <pelmo/sm3.hpp>

#include "commands.hpp"

namespace pelmo::cli {

namespace {

// Hashes one stream; false (with errno kept) on a read error.
bool hash_stream(std::FILE* f, pelmo::sm3::SM3& h) {
    static thread_local std::vector<std::uint8_t> buf(1 << 20);
    for (;;) {
        const std::size_t got = std::fread(buf.data(), 1, buf.size(), f);
        if (got > 0) h.update(ByteView(buf.data(), got));
        if (got < buf.size()) return !std::ferror(f);
    }
}

int run_sm3(const std::vector<std::string>& files) {
    const std::vector<std::string> names = files.empty() ? std::vector<std::string>{"-"} : files;
    int status = 0;
    for (const std::string& name : names) {
        pelmo::sm3::SM3 h;
        const bool is_stdin = name == "-";
        std::FILE* f = is_stdin ? stdin : std::fopen(name.c_str(), "rb");
        if (f == nullptr) {
            std::cerr << "pelmo: " << name << ": " << std::strerror(errno) << '\n';
            status = 1;
            continue;
        }
        const bool ok = hash_stream(f, h);
        const int err = errno;
        if (!is_stdin) std::fclose(f);
        if (!ok) {
            std::cerr << "pelmo: " << name << ": " << std::strerror(err) << '\n';
            status = 1;
            continue;
        }
        std::cout << h.hexdigest() << "  " << name << '\n';
    }
    std::cout.flush();
    return status;
}

}  // namespace

void add_sm3(CLI::App& app, Action& action) {
    auto* cmd =
        app.add_subcommand("sm3", "Print SM3 digests of files (or standard input), like sha256sum");
    auto files = std::make_shared<std::vector<std::string>>();
    cmd->add_option("FILE", *files, "Files to hash; '-' or none reads standard input");
    cmd->callback([&action, files] { action = [files] { return run_sm3(*files); }; });
}

}  // namespace pelmo::cli
