// What the sampling tick remembers from one tick to the next.
#pragma once

#include <cstdint>

namespace vistrel {

struct Recording_State {
    // The mode: continuous and motion recording are never on together, and
    // Rec_Motion is only ever set while Rec_Armed.
    bool Rec_Continuous = false;
    bool Rec_Armed = false;
    bool Rec_Motion = false;

    // 32-bit millisecond tick counts; they wrap after about 49.7 days.
    uint32_t Tick_Armed = 0;
    uint32_t Tick_Last_Motion = 0;

    // Ticks in a row whose measure was over the threshold; with the light
    // rule a motion episode needs two.
    uint32_t Ticks_Over_Threshold = 0;

    // Set once the episode counter has been advanced for the current episode.
    bool New_Folder_R_Done = false;
    bool New_Folder_D_Done = false;

    // The episode and picture counters go on from 4294967295 to 0: a day
    // folder holding D2147483647 is no reason for anything to fail.
    uint32_t Num_Folder_R = 0;
    uint32_t Num_Folder_D = 0;
    uint32_t Num_Image = 0;
};

} // namespace vistrel
