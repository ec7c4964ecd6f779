#include "loop_watch.h"

#include <algorithm>

LoopWatch::LoopWatch()
{
    timer_.setTimerType(Qt::PreciseTimer);
    timer_.setInterval(1);
    connect(&timer_, &QTimer::timeout, this, &LoopWatch::tick);
}

void LoopWatch::start()
{
    gaps_.clear();
    longest_ = 0;
    clock_.start();
    last_ = 0;
    timer_.start();
}

void LoopWatch::stop()
{
    tick();
    timer_.stop();
}

void LoopWatch::tick()
{
    const qint64 now = clock_.nsecsElapsed();
    const qint64 gap = now - last_;
    last_ = now;
    longest_ = std::max(longest_, gap);
    // Only gaps that stand out are kept: a quiet loop ticks every 1 ms.
    if (gap > 2'000'000)
        gaps_.append(gap);
}

double LoopWatch::longestMs() const
{
    const qint64 current = timer_.isActive() ? clock_.nsecsElapsed() - last_ : 0;
    return std::max(longest_, current) / 1e6;
}

int LoopWatch::gapsOver(double ms) const
{
    return static_cast<int>(std::count_if(gaps_.begin(), gaps_.end(), [ms](qint64 gap) { return gap / 1e6 > ms; }));
}
