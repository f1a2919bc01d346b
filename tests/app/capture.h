#pragma once
// Collects what a function prints to a FILE* into a string.
#include <cstdio>
#include <cstdlib>
#include <string>

namespace vantorel::test {

class Capture {
 public:
  Capture() : stream_(open_memstream(&data_, &size_)) {}
  ~Capture() {
    if (stream_ != nullptr) std::fclose(stream_);
    std::free(data_);
  }
  Capture(const Capture&) = delete;
  Capture& operator=(const Capture&) = delete;

  std::FILE* stream() { return stream_; }
  std::string text() {
    std::fflush(stream_);
    return std::string(data_ != nullptr ? data_ : "", size_);
  }

 private:
  char* data_ = nullptr;
  size_t size_ = 0;
  std::FILE* stream_;
};

}  // namespace vantorel::test
