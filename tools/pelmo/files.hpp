// Output files that appear whole or not at all: a new file under an unpredictable
// name beside the target, synced and renamed into place, and removed on every error
// and on SIGINT, SIGTERM and SIGHUP.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <thread>

namespace pelmo::cli {

/// Who may read an output file.
enum class Access {
    usual,       ///< 0666 less the umask
    owner_only,  ///< 0600 whatever the umask: private keys
};

/// A new file in the directory of target, to be renamed over it. The name is target's
/// followed by ".pelmo-tmp-" and 16 random hexadecimal digits; it is created with
/// O_CREAT | O_EXCL | O_NOFOLLOW, so a file or symbolic link already at that name is
/// never written or followed (another name is drawn). Until commit() or destruction,
/// the name is removed if the process is ended by SIGINT, SIGTERM or SIGHUP, which
/// then ends the process as the signal's default action does.
class TempFile {
  public:
    TempFile(const std::string& target, Access access);
    /// Closes the file and, unless committed, removes it.
    ~TempFile();
    TempFile(const TempFile&) = delete;
    TempFile& operator=(const TempFile&) = delete;

    int fd() const noexcept { return fd_; }
    const std::string& path() const noexcept { return path_; }
    /// Notes that n more bytes were written; every few MiB, starts writing them to the
    /// disk (without waiting), so that commit() has little left to wait for.
    void wrote(std::size_t n) noexcept;
    /// Syncs the file to the disk, closes it, renames it over the target and syncs the
    /// directory, so that the target is either the old file or all of the new one.
    void commit();

  private:
    // Closes the file and, unless committed, removes it (it was created).
    void discard() noexcept;
    // Takes the name off the list that the signal handler removes.
    void forget() noexcept;

    int fd_ = -1;
    std::string target_, path_;
    int slot_ = -1;  // the entry in the list that the signal handler removes
    std::uint64_t written_ = 0, flushing_ = 0;  // bytes written, bytes sent to the disk
    bool committed_ = false;
};

/// Throws std::runtime_error "name: <the error's text>".
[[noreturn]] void fail_io(const std::string& name, int err);

/// Starts a thread with SIGINT, SIGTERM and SIGHUP blocked, so that their handler
/// runs on the main thread, between its own steps, never beside them.
std::thread start_worker(std::function<void()> body);

}  // namespace pelmo::cli
