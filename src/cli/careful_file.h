// Writing a whole file as careful tools do, so that a failed or interrupted
// write leaves the old file, and a name in a shared directory cannot be
// turned against the user. POSIX calls live here alone.
#pragma once

#include <string>
#include <string_view>

namespace tensivo::cli {

// Writes `text` to `path`: into a temporary file made exclusively, under a
// name no one can guess, beside the file `path` finally names (through any
// symbolic links, which are kept), flushed to disk, then renamed over it. An
// existing file keeps its mode, and its owner where the user may set it. A
// target that exists but is no regular file (a device, FIFO, socket or
// directory), or a link to nothing, is refused. Throws Failure(kFileFailed)
// naming `path`, never the temporary, which is gone by then.
void WriteFileCarefully(const std::string& path, std::string_view text);

}  // namespace tensivo::cli
