#include "transcode/folder_cover.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cerrno>
#include <cstring>

#include "cache/unique_fd.h"
#include "decoders/image_type.h"
#include "fs/dir_handle.h"
#include "logging/logger.h"

namespace {

// In order of preference.
constexpr std::array<const char*, 6> kCoverNames = {
    "cover.jpg", "cover.png", "folder.jpg", "folder.png", "front.jpg", "front.png",
};

// A picture is copied into every tag that carries it; anything larger than this is
// more likely a mistake than a cover.
constexpr off_t kMaxCoverBytes = off_t{16} << 20;

std::string lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

// Position of name in kCoverNames, or kCoverNames.size().
size_t rank_of(const std::string& name) {
  const std::string folded = lower(name);
  for (size_t i = 0; i < kCoverNames.size(); ++i) {
    if (folded == kCoverNames[i]) return i;
  }
  return kCoverNames.size();
}

bool is_regular_file(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

void log_unreadable(const std::string& path, const char* reason) {
  Logging::Logger(Logging::ERROR) << "Cannot use cover file " << path << ": " << reason << ".";
}

}  // namespace

std::string find_folder_cover(const std::string& source_path) {
  const size_t slash = source_path.rfind('/');
  const std::string directory = slash == std::string::npos ? "." : source_path.substr(0, slash);
  DirHandle dir(opendir(directory.c_str()));
  if (!dir) return {};
  size_t best_rank = kCoverNames.size();
  std::string best_name;
  while (const dirent* entry = readdir(dir.get())) {
    const std::string name = entry->d_name;
    const size_t rank = rank_of(name);
    if (rank == kCoverNames.size() || rank > best_rank) continue;
    // Names differing only in case tie; the byte order decides, not the directory's.
    if (rank == best_rank && name >= best_name) continue;
    if (!is_regular_file(directory + "/" + name)) continue;
    best_rank = rank;
    best_name = name;
  }
  return best_name.empty() ? std::string() : directory + "/" + best_name;
}

int64_t folder_cover_time(const std::string& source_path) {
  const size_t slash = source_path.rfind('/');
  const std::string directory = slash == std::string::npos ? "." : source_path.substr(0, slash);
  int64_t newest = 0;
  for (const std::string& path : {directory, find_folder_cover(source_path)}) {
    struct stat st;
    if (!path.empty() && stat(path.c_str(), &st) == 0) {
      newest = std::max(newest, static_cast<int64_t>(st.st_mtime));
    }
  }
  return newest;
}

std::string picture_mime_type(std::span<const uint8_t> bytes) {
  std::string type = image_mime_type(bytes.data(), bytes.size());
  return type == "image/jpeg" || type == "image/png" ? type : std::string();
}

bool read_folder_cover(const std::string& path, FolderCover& cover) {
  UniqueFd file(open(path.c_str(), O_RDONLY | O_CLOEXEC));
  struct stat st;
  if (!file || fstat(file.get(), &st) != 0) {
    log_unreadable(path, std::strerror(errno));
    return false;
  }
  if (st.st_size > kMaxCoverBytes) {
    log_unreadable(path, "larger than 16 MiB");
    return false;
  }
  std::vector<uint8_t> data(static_cast<size_t>(st.st_size));
  size_t done = 0;
  while (done < data.size()) {
    const ssize_t n = pread(file.get(), data.data() + done, data.size() - done, done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      log_unreadable(path, std::strerror(errno));
      return false;
    }
    if (n == 0) break;  // shrunk while we read: take what is there
    done += static_cast<size_t>(n);
  }
  data.resize(done);
  std::string mime_type = picture_mime_type(data);
  if (mime_type.empty()) {
    log_unreadable(path, "not a JPEG or PNG image");
    return false;
  }
  cover.mime_type = std::move(mime_type);
  cover.data = std::move(data);
  return true;
}
