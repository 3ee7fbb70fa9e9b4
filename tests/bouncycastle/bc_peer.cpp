#include "bc_peer.hpp"

#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <stdexcept>

#include "common/hex.hpp"

namespace pelmo::test::bc {

Peer::Peer() {
    int sv[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, sv) != 0)
        throw std::runtime_error("socketpair failed");
    // The JIT's first tier is enough for requests this small, and starts sooner.
    const char* argv[] = {PELMO_JAVA, "-XX:TieredStopAtLevel=1", "-XX:+UseSerialGC", "-Xshare:auto",
                          "-cp",      PELMO_BC_CLASSPATH,        "BcPeer",           nullptr};
    pid_ = ::fork();
    if (pid_ < 0) throw std::runtime_error("fork failed");
    if (pid_ == 0) {
        // Standard input and output on the socket; standard error stays the test's.
        if (::dup2(sv[1], 0) < 0 || ::dup2(sv[1], 1) < 0) ::_exit(127);
        ::execv(argv[0], const_cast<char* const*>(argv));
        ::_exit(127);
    }
    ::close(sv[1]);
    fd_ = sv[0];
}

Peer::~Peer() {
    ::shutdown(fd_, SHUT_WR);
    ::close(fd_);
    int status = 0;
    while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
    }
}

std::string Peer::read_line() {
    for (;;) {
        const auto eol = pending_.find('\n');
        if (eol != std::string::npos) {
            std::string line = pending_.substr(0, eol);
            pending_.erase(0, eol + 1);
            return line;
        }
        char buf[4096];
        const ssize_t n = ::read(fd_, buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) throw std::runtime_error("the BouncyCastle driver ended (see standard error)");
        pending_.append(buf, static_cast<std::size_t>(n));
    }
}

std::vector<std::string> Peer::call(std::initializer_list<std::string_view> request) {
    std::string line;
    for (const std::string_view field : request) {
        if (!line.empty()) line += ' ';
        line += field;
    }
    line += '\n';
    for (std::size_t sent = 0; sent < line.size();) {
        const ssize_t n = ::send(fd_, line.data() + sent, line.size() - sent, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) throw std::runtime_error("the BouncyCastle driver does not read its requests");
        sent += static_cast<std::size_t>(n);
    }
    const std::string answer = read_line();
    if (answer.rfind("ok", 0) != 0)
        throw std::runtime_error("BouncyCastle: " + answer + " (request: " + line.substr(0, 200) +
                                 ")");
    std::vector<std::string> fields;
    for (std::size_t at = 2; at < answer.size();) {
        const auto end = answer.find(' ', at + 1);
        fields.push_back(answer.substr(at + 1, end - at - 1));
        at = end == std::string::npos ? answer.size() : end;
    }
    return fields;
}

std::string Peer::call1(std::initializer_list<std::string_view> request) {
    std::vector<std::string> fields = call(request);
    if (fields.size() != 1)
        throw std::runtime_error("BouncyCastle: " + std::to_string(fields.size()) +
                                 " results where one was expected");
    return fields[0];
}

std::string hex(ByteView data) {
    return data.empty() ? std::string("-") : pelmo::detail::to_hex(data);
}

Bytes bytes(std::string_view field) {
    return field == "-" ? Bytes{} : pelmo::detail::from_hex(field);
}

}  // namespace pelmo::test::bc
