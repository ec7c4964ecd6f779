#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

// The longest time the event loop of this thread could not react while a
// burst is handled: a 1 ms timer notes how late each of its ticks comes. A
// gap between two ticks is a pass of the loop (or a run of handlers) that
// held everything else up, input and painting included.
class LoopWatch : public QObject {
public:
    LoopWatch();

    void start();
    void stop();
    // The longest gap between two ticks since start(), up to now if running.
    double longestMs() const;
    // How many gaps were longer than `ms`.
    int gapsOver(double ms) const;

private:
    void tick();

    QTimer timer_;
    QElapsedTimer clock_;
    qint64 last_ = 0;
    qint64 longest_ = 0;
    QList<qint64> gaps_;
};
