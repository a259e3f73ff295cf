#pragma once

#include "fs/reader.h"

// Reads a passed-through source file; owns its descriptor.
class FileReader : public Reader {
 public:
  explicit FileReader(int fd) : fd(fd) {}
  ~FileReader() override;
  FileReader(const FileReader&) = delete;
  FileReader& operator=(const FileReader&) = delete;

  int64_t read(char* destination, int64_t offset, uint64_t size) override;

 private:
  int fd;
};
