#pragma once

#include <exception>

namespace core {

// What a long step of a running item throws when it finds a stop
// requested: the item ends as stopped, neither failed nor finished. Its own
// type, like batch::BatchSkip, and no core::Error: the places that pass an
// Error over (a cover that can't be read, a transcript that can't be made)
// must not pass a stop over.
struct Stopped : std::exception {
    const char* what() const noexcept override;
};

// The process-wide stop, raised when the application quits mid-run. From
// then on no child process starts (runChildProcess throws Stopped), the
// running ones are ended, and every long in-process loop (decoding, block
// rendering, recognition, audiogram frames) throws Stopped at its next
// check. It stays raised; only a test lowers it again.
void requestStop();
void clearStopRequest();
bool isStopRequested();
// Throws Stopped while a stop is requested. One atomic load: cheap enough
// for every block or packet of a loop.
void throwIfStopRequested();

} // namespace core
