// The stand-in renderer's image, written whole or not at all.
#pragma once

#include <cstdio>
#include <string>

namespace standin {

class ImageFile {
 public:
  ImageFile() = default;
  ImageFile(const ImageFile&) = delete;
  ImageFile& operator=(const ImageFile&) = delete;
  ~ImageFile();  // takes away a temporary file that was never put in place

  // Makes a new temporary file beside `target`, before anything is
  // rendered, so a target that cannot be written is known at once. False
  // with `error` set to the reason, the system's where it has one.
  bool open(const std::string& target, std::string& error);

  // Writes the pixels (rows of `channels` bytes a pixel: 3 for RGB, 4 for
  // RGBA) as a PNG, checks every write and the close, and only then puts
  // the file in the target's place. False with `error` set, and nothing
  // left behind.
  bool write_png(int width, int height, int channels, const unsigned char* pixels,
                 std::string& error);

 private:
  void discard();

  std::string target_, temporary_;
  std::FILE* file_ = nullptr;  // the temporary file, until written
};

}  // namespace standin
