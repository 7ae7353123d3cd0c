#include "ui/QuorvelApp.h"

#include "episode/EpisodePipeline.h"
#include "episode/Transcriber.h"
#include "presets/Vertical.h"
#include "ui/EditionApp.h"
#include "ui/QuorvelOptionsPanel.h"

namespace ui {

presets::QuorvelPreset QuorvelApp::defaultPreset() {
    return presets::QuorvelPreset("Brindlemoor Podcast", "Velmora Master", 1, -16.0, true, false, true, std::nullopt);
}

StandaloneBranding QuorvelApp::branding() {
    return {"Quorvel",
            "Clean up, level and package podcast episodes",
            "waveform.badge.mic",
            "Drop Episode Audio or Video Here",
            "Cleans up and loudness-matches each episode, then exports the master, RSS file, transcript and audiogram.",
            "Process All",
            "episode",
            QuorvelOptionsPanel::kTokens};
}

int QuorvelApp::run(int argc, char** argv, bool installedBuild) {
    using Model = StandaloneViewModel<presets::QuorvelPreset>;
    EditionSetup<presets::QuorvelPreset> setup{
        QStringLiteral("Quorvel"),
        QStringLiteral("Quorvel"),
        QString::fromLatin1(kDesktopId),
        batch::Edition::quorvel,
        presets::Vertical::quorvel,
        defaultPreset(),
        branding(),
        QStringLiteral("Audio and video"),
        [](Model& model) -> QWidget* {
            QuorvelOptionsPanel::Capabilities caps;
            caps.transcriptionAvailable = [] { return episode::Transcriber::isSupported(); };
            caps.producesMP3 = [] { return episode::sharedEpisodePipeline().producesMP3(); };
            return new QuorvelOptionsPanel(model, caps);
        },
        [](QWidget* panel) { static_cast<QuorvelOptionsPanel*>(panel)->refresh(); },
        "FFmpeg, PocketSphinx, TagLib, Cairo, Pango and ICU",
    };
    return runEditionApp(argc, argv, installedBuild, setup);
}

} // namespace ui
