#pragma once
// Opening a file that a new document replaces: only a regular file (or nothing) at the path is
// replaced, so that a folder, a FIFO or a device named by mistake is never touched.

#include <fstream>
#include <string>

namespace quorvane {

// Opens `file` on `path` for writing, emptied. Returns why it could not ("Cannot record to
// PATH: not a regular file", "Cannot open PATH: reason"), or an empty text.
std::string OpenReplacing(const std::string& path, std::ofstream& file);

}  // namespace quorvane
