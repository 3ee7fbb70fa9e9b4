#include "io.hpp"

#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <stdexcept>
#include <system_error>

#include <pelmo/crypt_managers.hpp>

namespace pelmo::cli {

namespace {

[[noreturn]] void fail_io(const std::string& name, int err) {
    throw std::runtime_error(name + ": " + std::strerror(err));
}

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
    if (is_stdio(name)) {
        f_ = stdin;
    } else {
        f_ = std::fopen(name.c_str(), "rb");
        if (f_ == nullptr) fail_io(name, errno);
        owned_ = true;
    }
    struct stat st {};
    if (::fstat(::fileno(f_), &st) == 0) {
        if (S_ISDIR(st.st_mode)) fail_io(name_, EISDIR);
        regular_ = S_ISREG(st.st_mode);
        if (regular_) size_ = static_cast<std::uint64_t>(st.st_size);
    }
}

Input::~Input() {
    stop_worker(reader_, mu_, cv_, stop_);
    unmap();
    if (owned_) std::fclose(f_);
}

void Input::unmap() noexcept {
    for (Window* w : {&window_, &previous_}) {
        if (w->data != nullptr) ::munmap(const_cast<std::uint8_t*>(w->data), w->size);
        *w = Window{};
    }
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
    if (!reader_.joinable()) reader_ = std::thread([this, n] { reader_loop(n); });
    cv_.notify_all();
    cv_.wait(lock, [&] { return filled_ > k || at_end_; });
    if (error_) std::rethrow_exception(error_);
    if (filled_ <= k) return {};
    return ByteView(ring_[k % kRing].data(), ring_size_[k % kRing]);
}

ByteView Input::next(std::size_t n) {
    if (background_) return next_from_reader(n);
    if (!mapped()) {
        Bytes& buf = buffers_[buffer_turn_];
        buffer_turn_ ^= 1;
        buf.resize(n);
        return ByteView(buf.data(), read(buf.data(), n));
    }
    if (pos_ >= size_) return {};
    if (window_.data == nullptr || pos_ >= window_.offset + window_.size) {
        // Windows of 16 MiB (whole chunks): few system calls, and little of the file
        // resident at once. Offsets are multiples of n, and so of the page size.
        if (previous_.data != nullptr)
            ::munmap(const_cast<std::uint8_t*>(previous_.data), previous_.size);
        previous_ = window_;
        window_.offset = pos_;
        const std::uint64_t chunks = std::max<std::uint64_t>(1, (16u << 20) / n);
        window_.size = std::min<std::uint64_t>(chunks * n, size_ - pos_);
        void* p = ::mmap(nullptr, window_.size, PROT_READ, MAP_PRIVATE | MAP_POPULATE, ::fileno(f_),
                         static_cast<off_t>(window_.offset));
        if (p == MAP_FAILED) {
            window_ = Window{};
            fail_io(name_, errno);
        }
        window_.data = static_cast<const std::uint8_t*>(p);
    }
    const std::uint64_t take = std::min<std::uint64_t>(n, window_.offset + window_.size - pos_);
    const ByteView v(window_.data + (pos_ - window_.offset), take);
    pos_ += take;
    return v;
}

std::size_t Input::read(std::uint8_t* buf, std::size_t n) {
    std::size_t got = 0;
    while (got < n) {
        const std::size_t r = std::fread(buf + got, 1, n - got, f_);
        if (r == 0) {
            if (std::ferror(f_)) fail_io(name_, errno);
            break;
        }
        got += r;
    }
    return got;
}

Bytes Input::read_all() {
    Bytes out;
    std::uint8_t buf[1 << 16];
    for (std::size_t n; (n = read(buf, sizeof buf)) > 0;) out.insert(out.end(), buf, buf + n);
    return out;
}

Output::Output(const std::string& name) : name_(is_stdio(name) ? "-" : name) {
    if (is_stdio(name)) {
        f_ = stdout;
        return;
    }
    // Devices and pipes (/dev/null, a FIFO) are written directly.
    struct stat st {};
    if (::stat(name.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) {
        f_ = std::fopen(name.c_str(), "wb");
        if (f_ == nullptr) fail_io(name, errno);
        committed_ = true;
        return;
    }
    tmp_ = name + ".pelmo-tmp-" + std::to_string(::getpid());
    f_ = std::fopen(tmp_.c_str(), "wb");
    if (f_ == nullptr) fail_io(name, errno);
}

Output::~Output() {
    stop_worker(writer_, mu_, cv_, stop_);
    if (f_ != nullptr && f_ != stdout) {
        std::fclose(f_);
        if (!committed_ && !tmp_.empty()) std::remove(tmp_.c_str());
    }
}

void Output::put(const std::uint8_t* data, std::size_t n) {
    if (n != 0 && std::fwrite(data, 1, n, f_) != n) fail_io(name_, errno);
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
        free_.push_back(std::move(buf));
        return;
    }
    std::unique_lock<std::mutex> lock(mu_);
    if (error_ != 0) fail_io(name_, error_);
    if (!writer_.joinable()) writer_ = std::thread([this] { writer_loop(); });
    cv_.wait(lock, [&] { return queue_.size() < kInFlight; });
    queue_.push_back(std::move(buf));
    cv_.notify_all();
}

void Output::writer_loop() {
    std::unique_lock<std::mutex> lock(mu_);
    for (;;) {
        cv_.wait(lock, [&] { return stop_ || !queue_.empty(); });
        if (queue_.empty()) return;
        busy_ = true;
        Bytes b = std::move(queue_.front());
        queue_.pop_front();
        cv_.notify_all();
        lock.unlock();
        const bool ok =
            error_ != 0 || b.empty() || std::fwrite(b.data(), 1, b.size(), f_) == b.size();
        const int err = errno;
        lock.lock();
        if (!ok && error_ == 0) error_ = err != 0 ? err : EIO;
        free_.push_back(std::move(b));
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
    if (std::fflush(f_) != 0) fail_io(name_, errno);
    if (f_ == stdout) return;
    if (tmp_.empty()) {  // written in place
        const int rc = std::fclose(f_);
        f_ = nullptr;
        if (rc != 0) fail_io(name_, errno);
        return;
    }
    if (std::fclose(f_) != 0) {
        f_ = nullptr;
        std::remove(tmp_.c_str());
        fail_io(name_, errno);
    }
    f_ = nullptr;
    if (std::rename(tmp_.c_str(), name_.c_str()) != 0) {
        const int err = errno;
        std::remove(tmp_.c_str());
        fail_io(name_, err);
    }
    committed_ = true;
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
