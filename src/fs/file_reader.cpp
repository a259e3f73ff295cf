#include "fs/file_reader.h"

#include <unistd.h>

FileReader::~FileReader() {
  close(fd);
}

// pread leaves no shared file position, so concurrent reads need no lock.
int64_t FileReader::read(char* destination, int64_t offset, uint64_t size) {
  return pread(fd, destination, size, offset);
}
