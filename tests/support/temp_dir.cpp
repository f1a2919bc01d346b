#include "support/temp_dir.h"

#include <filesystem>
#include <random>
#include <stdexcept>

namespace vantorel::test {

TempDir::TempDir() {
  namespace fs = std::filesystem;
  // TMPDIR (POSIX) or the user's temporary folder (Windows); forward
  // slashes, so path() joins the same way everywhere.
  std::error_code ec;
  fs::path base = fs::temp_directory_path(ec);
  if (ec) base = "/tmp";
  std::random_device seed;
  std::mt19937_64 rng(seed());
  for (int attempt = 0; attempt < 100; ++attempt) {
    fs::path candidate = base / ("vantorel-test-" + std::to_string(rng() % 1000000000000ull));
    // Made new, never reused: another test's directory is not ours to remove.
    if (fs::create_directory(candidate, ec)) {
      dir_ = candidate.generic_string();
      return;
    }
  }
  throw std::runtime_error("cannot create a temporary directory");
}

TempDir::~TempDir() {
  std::error_code ec;
  std::filesystem::remove_all(dir_, ec);
}

}  // namespace vantorel::test
