#pragma once

#include <string>

// The name under which what is learned about source_path's output (its size, its stored
// bytes) is remembered. It is the path itself, unless covers come from the folder: then the
// output also depends on the directory's cover file, whose state becomes part of the name,
// so that a cover added, removed or changed is never answered from memory.
std::string output_key(const std::string& source_path);
