#pragma once

#include <filesystem>
#include <vector>

#include "episode/FrameRenderer.h"

namespace episode {

// The MP4 writing of one audiogram: frames drawn by several threads at once,
// converted to BT.709 YUV 4:2:0 and encoded as H.264 (libx264, 4 Mbit/s) in
// frame order, and the excerpt's sound decoded at 44.1 kHz stereo, cut to
// exactly frameCount / fps seconds and encoded as AAC at 192 kbit/s, both
// muxed into one MP4 file. Any failure of the reader, an encoder or the file
// throws; a short video is never produced.
class AudiogramWriter {
public:
    struct Job {
        std::filesystem::path audioURL;
        std::filesystem::path outputPath; // written with the MP4 muxer whatever its extension
        const FrameRenderer* renderer = nullptr;
        const std::vector<float>* envelope = nullptr;
        int frameCount = 0;
        int fps = 30;
    };

    // Throws AudiogramGenerator::AudiogramError or audio::PCMStream::StreamError.
    static void write(const Job& job);

    // Threads drawing frames (besides the encoder's own).
    static int renderThreads();
};

} // namespace episode
