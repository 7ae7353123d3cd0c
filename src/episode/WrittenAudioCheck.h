#pragma once

#include <filesystem>
#include <optional>

namespace episode {

// Checks a file an external encoder has just written, before it is renamed
// into place: it must decode, and to at least `expectedSeconds` (less a
// small tolerance for encoder delay). Throws core::FileError naming
// `shownName` otherwise; the reason is the system's "No space left on
// device" when the file's folder is full, else that the file is incomplete.
void verifyWrittenAudio(const std::filesystem::path& written, const std::filesystem::path& shownName,
                        double expectedSeconds);

// The same check for a file whose audio was copied packet for packet from
// one that passed verifyWrittenAudio (a retagged copy): its audio packets
// must last at least `expectedSeconds`; they are read, not decoded.
void verifyCopiedAudio(const std::filesystem::path& written, const std::filesystem::path& shownName,
                       double expectedSeconds);

// The seconds of audio `file` decodes to (every frame counted).
double decodedSeconds(const std::filesystem::path& file);

// The seconds the packets of `file`'s first audio stream last, from their
// durations; throws core::Error when it cannot be read. Only the container
// a file named `shownName` (by default `file` itself) is written in is
// read: MP3 for ".mp3", MP4 for ".m4a", ".m4b", ".mp4" and ".mov", an audio
// container for any other name.
double packetSeconds(const std::filesystem::path& file,
                     const std::optional<std::filesystem::path>& shownName = std::nullopt);

} // namespace episode
