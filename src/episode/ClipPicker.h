#pragma once

#include <vector>

#include "episode/CaptionWord.h"

namespace episode {

// Picks where the audiogram excerpt starts: the liveliest stretch of the
// transcript, or without one the loudest stretch of a level list.
class ClipPicker {
public:
    ClipPicker() = delete;

    // A sentence start whose `length` seconds hold the most words (questions
    // and exclamations count 2 extra), a quarter second early; 0 when the
    // episode or the transcript is too short.
    static double liveliestStart(const std::vector<CaptionWord>& words, double duration, double length);
    // The start of the `length`-second window with the highest level sum;
    // levels come one per `step` seconds from 0.
    static double loudestStart(const std::vector<float>& levels, double step, double length);
};

} // namespace episode
