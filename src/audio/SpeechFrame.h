#pragma once

namespace audio {

// One 20 ms frame of 16 kHz mono audio: its level and how much of its energy
// sits in the high frequencies (energy of the first difference relative to the
// frame's energy). Made by LoudnessNormalizer::speechFrames, read by the
// filler-word search.
struct SpeechFrame {
    float levelDB = 0;
    float brightnessDB = 0;

    SpeechFrame() = default;
    SpeechFrame(float levelDB, float brightnessDB) : levelDB(levelDB), brightnessDB(brightnessDB) {}

    bool operator==(const SpeechFrame&) const = default;
};

} // namespace audio
