#pragma once

#include <QtGlobal>

#include <chrono>
#include <functional>
#include <limits>
#include <vector>

using Clock = std::chrono::steady_clock;

// A figure that could not be measured.
constexpr double NotMeasured = std::numeric_limits<double>::quiet_NaN();

double millisecondsBetween(Clock::time_point from, Clock::time_point to);

double median(std::vector<double> values);

// Nearest-rank percentile, fraction in (0, 1].
double percentile(std::vector<double> values, double fraction);

// User plus system time of the whole process.
double processCpuSeconds();

// Resident and peak resident memory of the process (VmRSS, VmHWM).
qint64 residentKiB();
qint64 peakResidentKiB();

// Starts a new peak: VmHWM becomes the current resident size.
void resetPeakResident();

// The cost of one call in milliseconds: wall-clock time, and CPU time of
// the whole process (threads that a call wakes included).
struct CallCost
{
    double wall = NotMeasured;
    double cpu = NotMeasured;
};

// The medians over a number of timed batches; each batch runs work often
// enough to last about batchMilliseconds.
CallCost medianCostPerCall(const std::function<void()> &work, int repetitions, double batchMilliseconds);
