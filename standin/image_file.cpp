#include "standin/image_file.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <string>

// MinGW declares the POSIX names open, close and getpid here too.
#if defined(_WIN32)
#include <io.h>
#include <process.h>
#include <windows.h>
#else
#include <unistd.h>
#endif

#define STB_IMAGE_WRITE_IMPLEMENTATION
#define STBI_WRITE_NO_STDIO
#include <stb_image_write.h>

namespace standin {

namespace {

#if !defined(O_BINARY)
#define O_BINARY 0
#endif
#if !defined(O_CLOEXEC)
#define O_CLOEXEC 0
#endif

std::string system_reason() { return std::strerror(errno); }

// Where the rename replaces the target in one step, so a reader never sees
// half an image and an old file, even a loaded library, is never truncated.
bool put_in_place(const std::string& from, const std::string& to, std::string& error) {
#if defined(_WIN32)
  if (MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING)) return true;
  error = "cannot replace it (error " + std::to_string(GetLastError()) + ")";
  return false;
#else
  if (std::rename(from.c_str(), to.c_str()) == 0) return true;
  error = system_reason();
  return false;
#endif
}

struct Writer {
  std::FILE* file;
  bool failed = false;
  std::string reason;  // of the first failure

  void note_failure() {
    if (failed) return;
    failed = true;
    reason = errno != 0 ? system_reason() : "a write failed";
  }
};

void write_chunk(void* context, void* data, int size) {
  auto& writer = *static_cast<Writer*>(context);
  errno = 0;
  if (!writer.failed && std::fwrite(data, 1, static_cast<std::size_t>(size), writer.file) !=
                            static_cast<std::size_t>(size)) {
    writer.note_failure();
  }
}

}  // namespace

ImageFile::~ImageFile() { discard(); }

void ImageFile::discard() {
  if (file_ != nullptr) std::fclose(file_);
  file_ = nullptr;
  if (!temporary_.empty()) std::remove(temporary_.c_str());
  temporary_.clear();
}

bool ImageFile::open(const std::string& target, std::string& error) {
  target_ = target;
  // A name no other run uses at once; a leftover of a killed run is skipped.
  const std::string process = std::to_string(getpid());
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::string name = target + "." + process + "-" + std::to_string(attempt) + ".part";
    const int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_BINARY | O_CLOEXEC, 0666);
    if (fd < 0 && errno == EEXIST) continue;
    if (fd < 0) {
      error = system_reason();
      return false;
    }
    std::FILE* file = fdopen(fd, "wb");
    if (file == nullptr) {
      error = system_reason();
      ::close(fd);
      std::remove(name.c_str());
      return false;
    }
    file_ = file;
    temporary_ = name;
    return true;
  }
  error = "no free name for a temporary file beside it";
  return false;
}

bool ImageFile::write_png(int width, int height, int channels, const unsigned char* pixels,
                          std::string& error) {
  Writer writer{file_};
  file_ = nullptr;  // closed below, whatever happens
  const bool encoded = stbi_write_png_to_func(write_chunk, &writer, width, height, channels, pixels,
                                              width * channels) != 0;
  errno = 0;
  if (std::fflush(writer.file) != 0 || std::ferror(writer.file)) writer.note_failure();
  errno = 0;
  if (std::fclose(writer.file) != 0) writer.note_failure();
  if (!encoded && !writer.failed) writer.reason = "the image could not be encoded";
  if (!encoded || writer.failed) {
    error = writer.reason;
    discard();
    return false;
  }
  if (!put_in_place(temporary_, target_, error)) {
    discard();
    return false;
  }
  temporary_.clear();
  return true;
}

}  // namespace standin
