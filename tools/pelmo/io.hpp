// Files, standard streams, keys and progress for the pelmo tool.
#pragma once

#include <unistd.h>

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <exception>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <pelmo/formats.hpp>
#include <pelmo/types.hpp>

#include "files.hpp"
#include "keys.hpp"

namespace pelmo::cli {

/// The size in which the commands stream a file: a multiple of every block size
/// that stays in L2, and large enough that hand-offs between threads are rare.
constexpr std::size_t kChunk = 1 << 20;

/// A file or standard input ("" or "-"), read in chunks. A regular file must keep the
/// size it had when opened: reading past that size, or finding the end before it, is
/// an error (a file of size 0, as the kernel's pseudo-files report, is read to its end).
class Input {
  public:
    explicit Input(const std::string& name);
    ~Input();
    Input(const Input&) = delete;
    Input& operator=(const Input&) = delete;

    /// Fills buf with up to n bytes; returns the count (0 at the end).
    std::size_t read(std::uint8_t* buf, std::size_t n);
    /// A view of the next n bytes (fewer at the end, empty when done). It stays
    /// valid through one more call, so a caller can look one chunk ahead; n must not
    /// change. The bytes are read into two alternating buffers (or, read in the
    /// background, into the reader's ring).
    ByteView next(std::size_t n);
    /// From now on, next() on a regular file reads ahead on a second thread into a
    /// few buffers, while the caller works on the previous chunk.
    void read_in_background() noexcept { background_ = regular_; }
    /// Everything that is left.
    Bytes read_all();
    /// The size of a regular file (what is left of it), or 0 when unknown.
    std::uint64_t size_hint() const noexcept { return size_; }
    const std::string& name() const noexcept { return name_; }

  private:
    // Throws unless the file still has its size, and the reads agree with it.
    void check_size(bool at_end) const;
    ByteView next_from_reader(std::size_t n);
    void reader_loop(std::size_t n);

    int fd_ = STDIN_FILENO;
    bool owned_ = false;
    bool regular_ = false;
    std::string name_;
    // A regular file's size when opened, what was left of it then, and how much of
    // that has been read.
    std::uint64_t file_size_ = 0, size_ = 0, pos_ = 0;
    Bytes buffers_[2];
    int buffer_turn_ = 0;
    // The background reader: chunk k goes into ring_[k % kRing]. A chunk is
    // released when the call after the one that returned it ends, so the reader
    // runs at most kRing - 2 chunks ahead of the caller. One chunk ahead is enough
    // (reading from the page cache outruns every mode), and each slot costs its first
    // touch of fresh pages, which under some hypervisors takes longer than encrypting
    // the chunk.
    static constexpr std::size_t kRing = 3;
    bool background_ = false;
    std::thread reader_;
    std::mutex mu_;
    std::condition_variable cv_;
    Bytes ring_[kRing];
    std::size_t ring_size_[kRing] = {};
    std::uint64_t calls_ = 0, filled_ = 0;
    bool at_end_ = false, stop_ = false;
    std::exception_ptr error_;
};

/// A file or standard output ("" or "-"). A file is written under a new temporary
/// name beside it (see TempFile) and moved into place by commit(), so a failed or
/// interrupted command leaves no output, neither partial nor temporary. An existing
/// device or pipe (/dev/null, a FIFO) is written directly.
class Output {
  public:
    explicit Output(const std::string& name, Access access = Access::usual);
    ~Output();
    Output(const Output&) = delete;
    Output& operator=(const Output&) = delete;

    void write(const std::uint8_t* data, std::size_t n);
    void write(ByteView data) { write(data.data(), data.size()); }
    void write(const std::string& text) {
        write(reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
    }
    /// A buffer of n bytes for write_async, reused from earlier writes when one is free.
    Bytes buffer(std::size_t n);
    /// Writes buf, in order with every other write. For a file, the write runs on a
    /// second thread so that the caller can fill the next buffer meanwhile (at most a
    /// few buffers in flight; a write error is reported by a later call).
    void write_async(Bytes buf);
    /// Writes out everything and, for a file, moves it into place.
    void commit();
    /// Whether the output is a regular file, whose writes copy into the file's pages.
    bool to_file() const noexcept { return temp_.has_value(); }

  private:
    void drain();
    void writer_loop();
    // Writes all n bytes; returns 0 or the error number.
    int write_out(const std::uint8_t* data, std::size_t n) noexcept;
    void put(const std::uint8_t* data, std::size_t n);
    // Called with mu_ held.
    void recycle(Bytes&& buf);

    int fd_ = STDOUT_FILENO;
    bool owned_ = false;  // a device or pipe that this object opened
    std::string name_;
    std::optional<TempFile> temp_;
    // The writer thread and its queue, started by the first write_async.
    std::thread writer_;
    std::mutex mu_;
    std::condition_variable cv_;
    std::deque<Bytes> queue_;
    std::vector<Bytes> free_;
    bool busy_ = false, stop_ = false;
    int error_ = 0;
};

/// A progress line on standard error for long work (over 64 MiB) when standard
/// error is a terminal; silent otherwise.
class Progress {
  public:
    Progress(const std::string& label, std::uint64_t total);
    ~Progress();
    void advance(std::uint64_t n);

  private:
    std::string label_;
    std::uint64_t total_ = 0, done_ = 0;
    int shown_ = -1;
    bool active_ = false;
};

/// The whole content of a file (binary).
std::string read_file(const std::string& path);

}  // namespace pelmo::cli
