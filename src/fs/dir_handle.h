#pragma once

#include <dirent.h>

#include <memory>

struct DirCloser {
  void operator()(DIR* dir) const { closedir(dir); }
};

// An open directory, closed once on every path out of its scope.
using DirHandle = std::unique_ptr<DIR, DirCloser>;
