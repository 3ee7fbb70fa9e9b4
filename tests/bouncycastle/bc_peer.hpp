// BouncyCastle (Java) as a peer of the interoperability tests: the driver BcPeer.java runs
// in one child JVM per test suite, answering requests of one line each (see BcPeer.java for
// the commands), so that the JVM's start-up is paid once and not per operation.
#pragma once

#include <sys/types.h>

#include <gtest/gtest.h>

#include <initializer_list>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include <pelmo/types.hpp>

namespace pelmo::test::bc {

/// The driver's child process, talking over a socket pair (no SIGPIPE if it dies).
class Peer {
  public:
    Peer();
    /// Ends the JVM (end of input) and reaps it.
    ~Peer();
    Peer(const Peer&) = delete;
    Peer& operator=(const Peer&) = delete;

    /// Sends the request made of these fields and returns the fields of its answer. An
    /// error reported by BouncyCastle is std::runtime_error carrying its description.
    std::vector<std::string> call(std::initializer_list<std::string_view> request);
    /// The same for a request with a single result.
    std::string call1(std::initializer_list<std::string_view> request);

  private:
    std::string read_line();

    int fd_ = -1;
    pid_t pid_ = -1;
    std::string pending_;  // read past the end of the last answer
};

/// A byte string as a request field: lower-case hexadecimal, "-" when empty.
std::string hex(ByteView data);
/// A result field back as bytes.
Bytes bytes(std::string_view field);

/// Tests that talk to BouncyCastle: one JVM for the whole suite.
class BcTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() { peer_ = std::make_unique<Peer>(); }
    static void TearDownTestSuite() { peer_.reset(); }
    static Peer& bc() { return *peer_; }

  private:
    static inline std::unique_ptr<Peer> peer_;
};

}  // namespace pelmo::test::bc
