#include "measure.h"

#include <QFile>

#include <sys/resource.h>

#include <algorithm>
#include <cmath>

double millisecondsBetween(Clock::time_point from, Clock::time_point to)
{
    return std::chrono::duration<double, std::milli>(to - from).count();
}

double median(std::vector<double> values)
{
    if (values.empty())
        return 0.0;
    std::sort(values.begin(), values.end());
    const size_t middle = values.size() / 2;
    if (values.size() % 2 == 1)
        return values[middle];
    return (values[middle - 1] + values[middle]) / 2.0;
}

double percentile(std::vector<double> values, double fraction)
{
    if (values.empty())
        return 0.0;
    std::sort(values.begin(), values.end());
    const auto rank = static_cast<size_t>(std::ceil(fraction * double(values.size())));
    return values[std::clamp<size_t>(rank, 1, values.size()) - 1];
}

double processCpuSeconds()
{
    rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    const auto seconds = [](const timeval &time) { return double(time.tv_sec) + double(time.tv_usec) / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

namespace {
qint64 statusKiB(const char *field)
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray prefix(field);
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith(prefix))
            return line.mid(prefix.size()).trimmed().split(' ').value(0).toLongLong();
    }
    return -1;
}
}

qint64 residentKiB()
{
    return statusKiB("VmRSS:");
}

qint64 peakResidentKiB()
{
    return statusKiB("VmHWM:");
}

void resetPeakResident()
{
    QFile clearRefs(QStringLiteral("/proc/self/clear_refs"));
    if (clearRefs.open(QIODevice::WriteOnly))
        clearRefs.write("5");
}

CallCost medianCostPerCall(const std::function<void()> &work, int repetitions, double batchMilliseconds)
{
    work();
    const Clock::time_point probeStart = Clock::now();
    work();
    const double estimate = std::max(millisecondsBetween(probeStart, Clock::now()), 1e-4);
    const int batch = std::clamp(int(batchMilliseconds / estimate), 1, 100000);

    std::vector<double> wall;
    std::vector<double> cpu;
    for (int repetition = 0; repetition < repetitions; ++repetition) {
        const double cpuStart = processCpuSeconds();
        const Clock::time_point start = Clock::now();
        for (int i = 0; i < batch; ++i)
            work();
        wall.push_back(millisecondsBetween(start, Clock::now()) / batch);
        cpu.push_back((processCpuSeconds() - cpuStart) * 1000.0 / batch);
    }
    return {median(wall), median(cpu)};
}
