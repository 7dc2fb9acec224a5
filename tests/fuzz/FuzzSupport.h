// What the fuzz targets share: a check that stops the run at once (libFuzzer
// keeps the input that made it fail, the replay test fails), and a file
// holding the input for the readers that take a path.
#pragma once

#include <fcntl.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>

namespace qvr::fuzz {

// Ends the process with a message when ACondition is false.
inline void Check(bool ACondition, const char* AWhat) {
  if (ACondition) return;
  std::fprintf(stderr, "fuzz check failed: %s\n", AWhat);
  std::abort();
}

// A private folder for this process's files, in memory when /dev/shm is there
// (an input costs no disk write), removed when the process ends normally.
inline const std::string& FuzzFolder() {
  struct TFolder {
    TFolder() {
      const char* base = ::access("/dev/shm", W_OK) == 0 ? "/dev/shm" : std::getenv("TMPDIR");
      Path = std::string(base != nullptr ? base : "/tmp") + "/qvrfuzz-XXXXXX";
      Check(::mkdtemp(Path.data()) != nullptr, "a folder for the inputs");
    }
    ~TFolder() {
      std::error_code ec;
      std::filesystem::remove_all(Path, ec);
    }
    std::string Path;
  };
  static const TFolder folder;
  return folder.Path;
}

// Writes the input to AName in FuzzFolder() and returns its path.
inline std::string InputFile(const char* AName, const std::uint8_t* AData, std::size_t ASize) {
  const std::string path = FuzzFolder() + "/" + AName;
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  Check(fd >= 0, "opening the input file");
  std::size_t done = 0;
  while (done < ASize) {
    const ssize_t n = ::write(fd, AData + done, ASize - done);
    Check(n > 0, "writing the input file");
    done += static_cast<std::size_t>(n);
  }
  ::close(fd);
  return path;
}

}  // namespace qvr::fuzz
