#pragma once

#include <string>

#include "base/file_handle.h"

namespace stampwright {

enum class OpenResult { kOpened, kCannotOpen, kNotARegularFile };

// Opens path for reading only if it is a regular file. It is opened without blocking first, so a
// FIFO without a writer or a device is seen for what it is before anything waits on it: a read
// from the page's thread must never block the station or run without end.
FileHandle OpenRegularFile(const std::string& path, const char* mode, OpenResult* result = nullptr);

}  // namespace stampwright
