#include "io.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <stdexcept>
#include <system_error>

#include <pelmo/crypt_managers.hpp>

namespace pelmo::cli {

namespace {

bool is_stdio(const std::string& name) {
    return name.empty() || name == "-";
}

// Tells a worker thread waiting on cv for stop to end, and waits for it.
void stop_worker(std::thread& worker, std::mutex& mu, std::condition_variable& cv, bool& stop) {
    if (!worker.joinable()) return;
    {
        std::lock_guard<std::mutex> lock(mu);
        stop = true;
    }
    cv.notify_all();
    worker.join();
}

}  // namespace

Input::Input(const std::string& name) : name_(is_stdio(name) ? "-" : name) {
    if (!is_stdio(name)) {
        fd_ = ::open(name.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd_ < 0) fail_io(name, errno);
        owned_ = true;
    }
    struct stat st {};
    if (::fstat(fd_, &st) == 0) {
        if (S_ISDIR(st.st_mode)) {
            if (owned_) ::close(fd_);
            fail_io(name_, EISDIR);
        }
        regular_ = S_ISREG(st.st_mode);
        // Standard input may start part of the way into its file.
        const off_t at = regular_ ? ::lseek(fd_, 0, SEEK_CUR) : 0;
        if (regular_ && at >= 0 && at <= st.st_size) {
            file_size_ = static_cast<std::uint64_t>(st.st_size);
            size_ = static_cast<std::uint64_t>(st.st_size - at);
        }
    }
}

Input::~Input() {
    stop_worker(reader_, mu_, cv_, stop_);
    if (owned_) ::close(fd_);
}

void Input::reader_loop(std::size_t n) {
    for (std::uint64_t k = 0;; ++k) {
        {
            std::unique_lock<std::mutex> lock(mu_);
            // Chunk k reuses the slot of chunk k - kRing, which is released when the
            // call two after the one that returned it starts.
            cv_.wait(lock, [&] { return stop_ || k + 3 <= calls_ + kRing; });
            if (stop_) return;
        }
        Bytes& buf = ring_[k % kRing];
        buf.resize(n);
        std::size_t got = 0;
        std::exception_ptr failure;
        try {
            got = read(buf.data(), n);
        } catch (...) {
            failure = std::current_exception();
        }
        std::lock_guard<std::mutex> lock(mu_);
        ring_size_[k % kRing] = got;
        error_ = failure;
        if (failure || got < n) at_end_ = true;
        filled_ = k + 1;
        cv_.notify_all();
        if (at_end_) return;
    }
}

ByteView Input::next_from_reader(std::size_t n) {
    std::unique_lock<std::mutex> lock(mu_);
    const std::uint64_t k = calls_++;
    if (!reader_.joinable()) reader_ = start_worker([this, n] { reader_loop(n); });
    cv_.notify_all();
    cv_.wait(lock, [&] { return filled_ > k || at_end_; });
    if (error_) std::rethrow_exception(error_);
    if (filled_ <= k) return {};
    return ByteView(ring_[k % kRing].data(), ring_size_[k % kRing]);
}

ByteView Input::next(std::size_t n) {
    if (background_) return next_from_reader(n);
    Bytes& buf = buffers_[buffer_turn_];
    buffer_turn_ ^= 1;
    buf.resize(n);
    return ByteView(buf.data(), read(buf.data(), n));
}

std::size_t Input::read(std::uint8_t* buf, std::size_t n) {
    std::size_t got = 0;
    while (got < n) {
        const ssize_t r = ::read(fd_, buf + got, n - got);
        if (r < 0) {
            if (errno == EINTR) continue;
            fail_io(name_, errno);
        }
        got += static_cast<std::size_t>(r);
        pos_ += static_cast<std::uint64_t>(r);
        if (regular_ && file_size_ != 0) check_size(r == 0);
        if (r == 0) break;
    }
    return got;
}

void Input::check_size(bool at_end) const {
    // A file changed while it is read would give a result that is neither the old
    // file's nor the new one's. Checked at every read, so that a change is found
    // before much more work is done.
    struct stat st {};
    if (::fstat(fd_, &st) == 0 && static_cast<std::uint64_t>(st.st_size) == file_size_ &&
        pos_ <= size_ && (!at_end || pos_ == size_))
        return;
    throw std::runtime_error(name_ + ": the file changed size while being read (" +
                             std::to_string(file_size_) + " bytes when opened)");
}

Bytes Input::read_all() {
    Bytes out;
    std::uint8_t buf[1 << 16];
    for (std::size_t n; (n = read(buf, sizeof buf)) > 0;) out.insert(out.end(), buf, buf + n);
    return out;
}

Output::Output(const std::string& name, Access access) : name_(is_stdio(name) ? "-" : name) {
    if (is_stdio(name)) {
        // Written with write(2) from here on: what went to stdout before goes first.
        std::fflush(stdout);
        return;
    }
    // Devices and pipes (/dev/null, a FIFO) are written directly.
    struct stat st {};
    if (::stat(name.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) {
        fd_ = ::open(name.c_str(), O_WRONLY | O_NOCTTY | O_CLOEXEC);
        if (fd_ < 0) fail_io(name, errno);
        owned_ = true;
        // Unless a regular file took the device's place in the meantime.
        if (::fstat(fd_, &st) == 0 && !S_ISREG(st.st_mode)) return;
        ::close(fd_);
        owned_ = false;
    }
    temp_.emplace(name, access);
    fd_ = temp_->fd();
}

Output::~Output() {
    stop_worker(writer_, mu_, cv_, stop_);
    if (owned_) ::close(fd_);
}

int Output::write_out(const std::uint8_t* data, std::size_t n) noexcept {
    for (std::size_t done = 0; done < n;) {
        const ssize_t w = ::write(fd_, data + done, n - done);
        if (w < 0) {
            if (errno == EINTR) continue;
            return errno;
        }
        done += static_cast<std::size_t>(w);
    }
    if (temp_) temp_->wrote(n);
    return 0;
}

void Output::put(const std::uint8_t* data, std::size_t n) {
    if (const int err = write_out(data, n); err != 0) fail_io(name_, err);
}

void Output::write(const std::uint8_t* data, std::size_t n) {
    drain();
    put(data, n);
}

Bytes Output::buffer(std::size_t n) {
    Bytes b;
    {
        std::lock_guard<std::mutex> lock(mu_);
        if (!free_.empty()) {
            b = std::move(free_.back());
            free_.pop_back();
        }
    }
    b.resize(n);
    return b;
}

void Output::write_async(Bytes buf) {
    constexpr std::size_t kInFlight = 4;
    if (!to_file()) {
        // Standard output, a device or a pipe: writing costs no copy into a file's
        // pages, so a second thread would only add hand-offs.
        put(buf.data(), buf.size());
        std::lock_guard<std::mutex> lock(mu_);
        recycle(std::move(buf));
        return;
    }
    std::unique_lock<std::mutex> lock(mu_);
    if (error_ != 0) fail_io(name_, error_);
    if (!writer_.joinable()) writer_ = start_worker([this] { writer_loop(); });
    cv_.wait(lock, [&] { return queue_.size() < kInFlight; });
    queue_.push_back(std::move(buf));
    cv_.notify_all();
}

// Keeps a written buffer for buffer() to hand out again; a few suffice (the writes in
// flight and the one being filled), so one more is let go: a caller that never asks for
// buffers would otherwise keep every chunk of its output in memory.
void Output::recycle(Bytes&& buf) {
    constexpr std::size_t kKept = 6;
    if (free_.size() < kKept) free_.push_back(std::move(buf));
}

void Output::writer_loop() {
    std::unique_lock<std::mutex> lock(mu_);
    for (;;) {
        cv_.wait(lock, [&] { return stop_ || !queue_.empty(); });
        // Stopped before commit(): the output is given up, and what is queued with it.
        if (stop_) return;
        busy_ = true;
        Bytes b = std::move(queue_.front());
        queue_.pop_front();
        cv_.notify_all();
        lock.unlock();
        const int err = error_ != 0 ? 0 : write_out(b.data(), b.size());
        lock.lock();
        if (err != 0) error_ = err;
        recycle(std::move(b));
        busy_ = false;
        cv_.notify_all();
    }
}

// Waits until the writer thread has written everything queued.
void Output::drain() {
    if (!writer_.joinable()) return;
    std::unique_lock<std::mutex> lock(mu_);
    cv_.wait(lock, [&] { return queue_.empty() && !busy_; });
    if (error_ != 0) fail_io(name_, error_);
}

void Output::commit() {
    drain();
    if (temp_) {
        temp_->commit();
    } else if (owned_) {
        owned_ = false;
        if (::close(fd_) != 0) fail_io(name_, errno);
    }
}

Progress::Progress(const std::string& label, std::uint64_t total)
    : label_(label), total_(total), active_(total > (64u << 20) && ::isatty(STDERR_FILENO)) {}

Progress::~Progress() {
    if (active_ && shown_ >= 0) std::cerr << "\r\033[K" << std::flush;
}

void Progress::advance(std::uint64_t n) {
    if (!active_) return;
    done_ += n;
    const int pct = static_cast<int>(done_ * 100 / total_);
    if (pct != shown_) {
        shown_ = pct;
        std::cerr << "\r" << label_ << ": " << pct << "%" << std::flush;
    }
}

std::string read_file(const std::string& path) {
    Input in(path);
    const Bytes b = in.read_all();
    return std::string(b.begin(), b.end());
}

}  // namespace pelmo::cli
