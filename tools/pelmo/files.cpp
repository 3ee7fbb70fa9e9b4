#include "files.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <stdexcept>

#include "common/hex.hpp"
#include "common/random.hpp"

namespace pelmo::cli {

void fail_io(const std::string& name, int err) {
    throw std::runtime_error(name + ": " + std::strerror(err));
}

namespace {

constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP};

sigset_t cleanup_signals() {
    sigset_t set;
    ::sigemptyset(&set);
    for (const int s : kSignals) ::sigaddset(&set, s);
    return set;
}

// Holds back SIGINT, SIGTERM and SIGHUP on this thread while it lives.
class SignalsHeld {
  public:
    SignalsHeld() {
        const sigset_t set = cleanup_signals();
        ::pthread_sigmask(SIG_BLOCK, &set, &old_);
    }
    ~SignalsHeld() { ::pthread_sigmask(SIG_SETMASK, &old_, nullptr); }
    SignalsHeld(const SignalsHeld&) = delete;
    SignalsHeld& operator=(const SignalsHeld&) = delete;

  private:
    sigset_t old_;
};

// The temporary files to remove if a signal ends the process: pointers to their
// names, which live until the entry is cleared.
constexpr std::size_t kSlots = 8;
std::atomic<const char*> g_temp_names[kSlots];
static_assert(std::atomic<const char*>::is_always_lock_free,
              "the signal handler reads the list without a lock");

extern "C" void remove_temp_files_and_end(int sig) {
    for (auto& slot : g_temp_names)
        if (const char* name = slot.load()) ::unlink(name);
    // End as the default action would, so that the exit status tells the signal:
    // restore it, raise the signal (held back while this handler runs) and let it in.
    struct sigaction dfl {};
    dfl.sa_handler = SIG_DFL;
    ::sigemptyset(&dfl.sa_mask);
    ::sigaction(sig, &dfl, nullptr);
    ::raise(sig);
    sigset_t set;
    ::sigemptyset(&set);
    ::sigaddset(&set, sig);
    ::sigprocmask(SIG_UNBLOCK, &set, nullptr);
    ::_exit(128 + sig);
}

void install_cleanup_handler() {
    static std::once_flag once;
    std::call_once(once, [] {
        struct sigaction sa {};
        sa.sa_handler = remove_temp_files_and_end;
        sa.sa_mask = cleanup_signals();
        for (const int s : kSignals) {
            // A signal that was ignored when the tool started (nohup, a background
            // job) stays ignored.
            struct sigaction old {};
            if (::sigaction(s, nullptr, &old) == 0 && old.sa_handler == SIG_IGN) continue;
            ::sigaction(s, &sa, nullptr);
        }
    });
}

// Lists name for removal; -1 when the list is full.
int remember(const char* name) noexcept {
    for (std::size_t i = 0; i < kSlots; ++i) {
        const char* expected = nullptr;
        if (g_temp_names[i].compare_exchange_strong(expected, name)) return static_cast<int>(i);
    }
    return -1;
}

// 8 random bytes in hexadecimal.
std::string random_suffix() {
    std::uint8_t r[8];
    detail::random_bytes(r);
    return detail::to_hex(ByteView(r, sizeof r));
}

}  // namespace

TempFile::TempFile(const std::string& target, Access access) : target_(target) {
    install_cleanup_handler();
    const std::filesystem::path t(target);
    // The target's name, shortened so that the suffix still fits in a file name.
    const std::string base = t.filename().string().substr(0, 200);
    const mode_t mode = access == Access::owner_only ? 0600 : 0666;
    for (int attempt = 0;; ++attempt) {
        path_ = (t.parent_path() / (base + ".pelmo-tmp-" + random_suffix())).string();
        // Created and listed for removal with the signals held back, so that no signal
        // finds the file unlisted, or the name listed before the file is ours.
        const SignalsHeld held;
        fd_ = ::open(path_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
        if (fd_ >= 0) {
            slot_ = remember(path_.c_str());
            break;
        }
        if (errno != EEXIST || attempt == 16) fail_io(target, errno);
    }
    if (slot_ < 0) {
        discard();
        throw std::logic_error("too many temporary files at once");
    }
    // The umask may have taken more than the group's and others' bits.
    if (access == Access::owner_only && ::fchmod(fd_, 0600) != 0) {
        const int err = errno;
        discard();
        fail_io(target, err);
    }
}

TempFile::~TempFile() {
    discard();
}

void TempFile::discard() noexcept {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    if (!committed_) ::unlink(path_.c_str());
    forget();
}

void TempFile::forget() noexcept {
    if (slot_ >= 0) g_temp_names[slot_].store(nullptr);
    slot_ = -1;
}

void TempFile::wrote(std::size_t n) noexcept {
    // Left to commit(), the sync of a large file would wait for nearly all of it to
    // be written to the disk; started every few MiB, the disk works while the tool does.
    constexpr std::uint64_t kStep = 8 << 20;
    written_ += n;
    if (written_ - flushing_ < kStep) return;
    ::sync_file_range(fd_, static_cast<off_t>(flushing_), static_cast<off_t>(written_ - flushing_),
                      SYNC_FILE_RANGE_WRITE);
    flushing_ = written_;
}

void TempFile::commit() {
    if (::fsync(fd_) != 0) fail_io(target_, errno);
    const int fd = fd_;
    fd_ = -1;
    if (::close(fd) != 0) fail_io(target_, errno);
    if (::rename(path_.c_str(), target_.c_str()) != 0) fail_io(target_, errno);
    committed_ = true;
    forget();
    // The rename itself reaches the disk with the directory. A directory that cannot
    // be opened for reading (write and search permission only), or a file system
    // that cannot sync directories (EINVAL), leaves that to the system.
    std::string dir = std::filesystem::path(target_).parent_path().string();
    if (dir.empty()) dir = ".";
    const int dfd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dfd < 0) return;
    const int rc = ::fsync(dfd);
    const int err = errno;
    ::close(dfd);
    if (rc != 0 && err != EINVAL) fail_io(dir, err);
}

std::thread start_worker(std::function<void()> body) {
    const SignalsHeld held;  // the new thread starts with this thread's mask
    return std::thread(std::move(body));
}

}  // namespace pelmo::cli
