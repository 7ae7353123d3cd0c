#pragma once

#include <filesystem>

namespace episode {

// Checks a file an external encoder has just written, before it is renamed
// into place: it must decode, and to at least `expectedSeconds` (less a
// small tolerance for encoder delay). Throws core::FileError naming
// `shownName` otherwise; the reason is the system's "No space left on
// device" when the file's folder is full, else that the file is incomplete.
void verifyWrittenAudio(const std::filesystem::path& written, const std::filesystem::path& shownName,
                        double expectedSeconds);

// The seconds of audio `file` decodes to (every frame counted).
double decodedSeconds(const std::filesystem::path& file);

} // namespace episode
