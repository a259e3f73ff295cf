#include "fs/path_mapping.h"

#include <dirent.h>

#include <memory>

#include "app/settings.h"
#include "decoders/decoder.h"
#include "fs/dir_handle.h"

namespace {

// Only the answer counts; the decoder is dropped at once.
bool is_decodable(std::string extension) {
  return make_decoder(extension) != nullptr;
}

}  // namespace

std::string to_source_path(const std::string& path) {
  return settings.basepath + path;
}

std::string to_output_name(const std::string& name) {
  const size_t dot = name.rfind('.');
  if (dot == std::string::npos) return name;
  if (!is_decodable(name.substr(dot + 1))) return name;
  return name.substr(0, dot + 1) + settings.desttype;
}

std::string find_source(const std::string& path) {
  const std::string full = to_source_path(path);
  const size_t dot = full.rfind('.');
  if (dot == std::string::npos) return full;
  if (full.compare(dot + 1, std::string::npos, settings.desttype) != 0) return full;

  const size_t slash = full.rfind('/');
  if (slash > dot) return full;  // the "." belongs to a directory name
  const std::string directory = full.substr(0, slash);
  const std::string prefix = full.substr(slash + 1, dot - slash);

  DirHandle dir(opendir(directory.c_str()));
  if (!dir) return full;
  while (const dirent* entry = readdir(dir.get())) {
    const std::string name = entry->d_name;
    if (name.compare(0, prefix.size(), prefix) != 0) continue;
    const size_t entry_dot = name.rfind('.');
    if (entry_dot == std::string::npos) continue;
    if (is_decodable(name.substr(entry_dot + 1))) return directory + "/" + name;
  }
  return full;
}
