#include "prefs/PerfProbe.h"

#include "platform/core/RecorderLog.h"
#include "platform/core/HostClock.h"

#include <QCoreApplication>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <sys/resource.h>
#include <unistd.h>

namespace corvessa {

PerfProbe& PerfProbe::shared()
{
    static PerfProbe probe;
    return probe;
}

PerfProbe::PerfProbe(Sources sources, PerfCounters& counters) : m_sources(std::move(sources)), m_counters(counters)
{
    const Sources fallback = defaultSources();
    if (!m_sources.now)
        m_sources.now = fallback.now;
    if (!m_sources.cpuSeconds)
        m_sources.cpuSeconds = fallback.cpuSeconds;
    if (!m_sources.memoryMB)
        m_sources.memoryMB = fallback.memoryMB;
}

PerfProbe::~PerfProbe()
{
    stop();
}

PerfProbe::Sources PerfProbe::defaultSources()
{
    // The monotonic clock: a wall-clock change must not look like a stall.
    return {[] { return HostClock::seconds(); }, &PerfProbe::processCpuSeconds, &PerfProbe::residentMemoryMB};
}

void PerfProbe::start()
{
    stop();
    const double now = m_sources.now();
    m_t0 = now;
    m_lastTick = now;
    m_lastReport = now;
    m_maxLate = 0;
    m_lastCPU = m_sources.cpuSeconds();
    m_counters.drain(); // samples from before the recording do not count

    auto* timer = new QTimer(QCoreApplication::instance());
    timer->setInterval(interval);
    QObject::connect(timer, &QTimer::timeout, timer, [this] { tick(); });
    m_timer = timer;
    timer->start();
}

void PerfProbe::stop()
{
    delete m_timer.data();
    m_timer.clear();
}

bool PerfProbe::isRunning() const
{
    return !m_timer.isNull();
}

void PerfProbe::setStrokeCount(std::function<int()> count)
{
    m_strokes = std::move(count);
}

void PerfProbe::tick()
{
    const double now = m_sources.now();
    const double late = (now - m_lastTick) - std::chrono::duration<double>(interval).count();
    m_maxLate = std::max(m_maxLate, late);
    m_lastTick = now;
    if (now - m_lastReport < reportSeconds)
        return;

    const double elapsed = now - m_lastReport;
    const double cpu = m_sources.cpuSeconds();
    const PerfCounters::Drained figures = m_counters.drain();
    const double memory = m_sources.memoryMB();
    const int strokes = m_strokes ? m_strokes() : 0;
    RecorderLog::write(formatLine(now - m_t0, (cpu - m_lastCPU) / elapsed * 100, memory, m_maxLate * 1000,
                                  figures.render, figures.pen, strokes));
    m_lastReport = now;
    m_lastCPU = cpu;
    m_maxLate = 0;
}

double PerfProbe::processCpuSeconds()
{
    rusage usage{};
    if (getrusage(RUSAGE_SELF, &usage) != 0)
        return 0;
    return double(usage.ru_utime.tv_sec) + double(usage.ru_utime.tv_usec) / 1e6 + double(usage.ru_stime.tv_sec) +
           double(usage.ru_stime.tv_usec) / 1e6;
}

double PerfProbe::residentMemoryMB()
{
    FILE* f = std::fopen("/proc/self/statm", "r");
    if (!f)
        return 0;
    unsigned long long size = 0;
    unsigned long long resident = 0;
    const int read = std::fscanf(f, "%llu %llu", &size, &resident);
    std::fclose(f);
    const long page = sysconf(_SC_PAGESIZE);
    if (read != 2 || page <= 0)
        return 0;
    return double(resident) * double(page) / 1048576.0;
}

QString PerfProbe::formatLine(double seconds, double cpuPercent, double memoryMB, double stallMs,
                              const PerfCounters::Stats& render, const PerfCounters::Stats& pen, int strokes)
{
    char line[512];
    std::snprintf(line, sizeof line,
                  "[perf] t=%.0fs cpu=%.0f%% mem=%.0fMB main_thread_stall_max=%.0fms composite n=%d avg%.1fms "
                  "max%.0fms pen_latency n=%d avg%.0fms max%.0fms strokes=%d",
                  seconds, cpuPercent, memoryMB, stallMs, render.n, render.avg, render.max, pen.n, pen.avg, pen.max,
                  strokes);
    return QString::fromUtf8(line);
}

} // namespace corvessa
