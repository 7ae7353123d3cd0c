#pragma once

#include <string>

// The window's fixed texts that speak of the platform, kept in one place.
namespace ui::texts {

inline constexpr const char* kUpdateFailedMessage = "Couldn't check for updates";
inline constexpr const char* kUpdateFailedInformative =
    "The update server didn't answer. Check your internet connection and try again.";
inline constexpr const char* kUpToDateMessage = "You're up to date";
// Said of the download: on Linux the new build replaces the installed one.
inline constexpr const char* kUpdateInformativeTail =
    ". The download opens in your browser; install the new version to replace this one.";

} // namespace ui::texts

namespace ui::texts {

// Where on-device transcription is missing, the panel says what to install.
inline constexpr const char* kNeedsSpeechModel = "Needs the English speech model (apt install pocketsphinx-en-us).";
inline constexpr const char* kTranscriptMadeHere = "Made on this computer; nothing is uploaded.";
inline constexpr const char* kRSSTooltip =
    "MP3 export uses FFmpeg when it's installed (apt install ffmpeg); otherwise an AAC .m4a is made.";
inline constexpr const char* kShowInFileManager = "Show in File Manager";
// The quit-mid-run question's detail, after the item noun's plural: a
// stopped episode leaves no half-written file, and what it already finished
// stays in the output folder.
inline constexpr const char* kQuitMidRunInformative =
    "The {}s being processed are stopped. Nothing half-written is left; files already finished stay.";
// A run that can't write its output folder doesn't start.
inline constexpr const char* kOutputFolderUnusable = "The batch can't start";

} // namespace ui::texts

namespace ui::texts {

// Shown when no file manager takes the folder to show (nothing registered
// for folders, or no xdg-open): the user can still go there by hand.
inline constexpr const char* kNoFileManagerMessage = "Couldn't open the folder";
inline std::string noFileManagerInformative(const std::string& folder) {
    return "No file manager is set up to show folders. The folder is:\n" + folder;
}

} // namespace ui::texts
