#pragma once
// Shared pieces of the fuzz targets: a reader that turns the fuzzer's bytes into choices, a scratch
// directory, and a check that stops the run with a message.
#include <stdlib.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace fuzz {

// Stops the run: libFuzzer keeps the input that got here as a crash.
#define FUZZ_CHECK(condition)                                                            \
  do {                                                                                   \
    if (!(condition)) {                                                                  \
      std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #condition); \
      std::abort();                                                                      \
    }                                                                                    \
  } while (false)

// Takes choices from the front of the input; an exhausted input answers zeros and empty texts.
class Reader {
 public:
  Reader(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
  bool Empty() const { return pos_ >= size_; }
  std::uint8_t Byte() { return pos_ < size_ ? data_[pos_++] : 0; }
  std::uint32_t Word() {
    std::uint32_t value = 0;
    for (int i = 0; i < 4; ++i) value = (value << 8) | Byte();
    return value;
  }
  // Up to maxBytes bytes, fewer when the input ends.
  std::string Text(std::size_t maxBytes) {
    std::size_t n = maxBytes;
    if (n > size_ - pos_) n = size_ - pos_;
    std::string text(reinterpret_cast<const char*>(data_ + pos_), n);
    pos_ += n;
    return text;
  }
  // A text whose length is the next byte (below maxBytes + 1).
  std::string ShortText(std::size_t maxBytes) { return Text(Byte() % (maxBytes + 1)); }
  std::string Rest() { return Text(size_ - pos_); }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t pos_ = 0;
};

// A directory of this process for the files a target writes; in memory where the system has one,
// so that the commit's flush to disk costs nothing.
inline const std::string& ScratchDir() {
  // Never destroyed: the exit handler that removes the directory runs after static destructors.
  static const std::string* dir = [] {
    std::string base =
        std::filesystem::exists("/dev/shm") ? "/dev/shm" : std::filesystem::temp_directory_path().string();
    auto* made = new std::string(base + "/mavrin-fuzz-XXXXXX");
    if (mkdtemp(made->data()) == nullptr) std::abort();
    std::atexit([] {
      std::error_code ignored;
      std::filesystem::remove_all(ScratchDir(), ignored);
    });
    return made;
  }();
  return *dir;
}

inline bool WriteBytes(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  return static_cast<bool>(out);
}

inline std::string ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Names in the scratch directory, to find temporary files left behind.
inline std::size_t ScratchEntries() {
  std::size_t n = 0;
  std::error_code ec;
  for (auto it = std::filesystem::directory_iterator(ScratchDir(), ec);
       !ec && it != std::filesystem::directory_iterator(); it.increment(ec)) {
    ++n;
  }
  return n;
}

inline bool HasLineBreak(const std::string& text) { return text.find_first_of("\r\n") != std::string::npos; }

}  // namespace fuzz
