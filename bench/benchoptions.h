#pragma once

// What one run of the benchmark measures, and how much.
struct BenchOptions
{
    int frames = 2000;        // per end-to-end run at full speed
    int pacedFrames = 400;    // per run at 20 frames per second
    int soakFrames = 2000;    // for the memory run
    int repetitions = 31;     // timed batches per stage
    double batchMilliseconds = 10.0;
    bool smoke = false;
};
