// Appending to the exchange file under its lock: the one way records reach
// the file. Depends on nothing else of the decoder.
//
// The display claims the file under the same exclusive flock (taken without
// waiting) and renames or deletes it; after taking the lock the writer checks
// that the file it holds is still the one at the path, and opens again if not.
#pragma once

#include <chrono>
#include <string>
#include <string_view>

namespace quorvel {

enum class AppendResult {
    Written,     // the whole text is in the file
    CloseFailed, // written, but closing the file reported an error
    Locked,      // another program held the lock until the wait ended; nothing written
    OpenFailed,  // no regular file could be opened or created at the path
    WriteFailed, // the file did not take the whole text (full disk, size limit); none of it kept
};

// How long to wait for a lock that another program holds. The default tries
// once and never waits.
struct AppendWait {
    std::chrono::steady_clock::time_point until{};
    int wake_fd = -1; // becomes readable: stop waiting at once (a stop request)
};

// Appends text, byte for byte, to the regular file at path (created 0666 minus
// umask when missing). Never blocks on the path itself: a FIFO, a device, a
// folder or a symbolic link there is OpenFailed. All or nothing: a write that
// fails part-way is cut off again, so the file never holds half a text.
AppendResult append_exchange_file(const std::string& path, std::string_view text,
                                  const AppendWait& wait = {});

} // namespace quorvel
