#pragma once

// Replacing a file's whole content in one step: the bytes go to a new file in
// the same folder, which is written, flushed to disk, closed and renamed over
// the target. The target then holds either its old content or exactly the new
// bytes. The name itself is replaced: a link of that name is replaced, never
// written through, and the old entry (which may be a FIFO) is never opened.

#include <filesystem>
#include <string>
#include <string_view>

namespace qirn {

struct SaveResult {
    // The step that failed.
    enum class Step { None, Open, Write, Flush, Close, Rename };

    Step failed = Step::None;
    int error = 0;         // the system's error number
    std::string reason;    // the system's text for it
    std::string fileName;  // the target's name, for messages

    bool Ok() const { return failed == Step::None; }
    // What failed and why, e.g. "cannot write Results.txt: No space left on device".
    std::string Describe() const;
};

// An existing target that this user may not write is refused, as an open for
// writing would refuse it; so is a folder.
SaveResult SaveFileContent(const std::filesystem::path& file, std::string_view bytes);

// Writes a new file, such as a private key, the same way, but only its owner
// may read it (mode 0600; on Windows the folder's access list, which in a
// user's profile admits that user alone), and an existing name is never
// replaced: that fails at Step::Rename.
SaveResult SaveNewPrivateFile(const std::filesystem::path& file, std::string_view bytes);

}  // namespace qirn
