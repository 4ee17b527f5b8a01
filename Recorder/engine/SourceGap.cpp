#include "engine/SourceGap.h"

namespace corvessa {

std::optional<double> SourceGap::arrived(MediaTime start, MediaTime duration, const RecordingTimeline& timeline)
{
    if (!start.isValid() || !timeline.origin.isValid())
        return std::nullopt;
    std::optional<double> missing;
    if (m_lastEnd.isValid()) {
        const MediaTime from = MediaTime::max(m_lastEnd, timeline.origin);
        if (start > from) {
            const double recorded = (timeline.boundary(start) - timeline.boundary(from)).seconds();
            if (recorded >= noticeSeconds)
                missing = recorded;
        }
    }
    const MediaTime end = duration.isValid() ? start + duration : start;
    m_lastEnd = MediaTime::max(m_lastEnd, end);
    return missing;
}

std::optional<double> SourceGap::stillMissing(MediaTime end, const RecordingTimeline& timeline)
{
    if (m_endTold || !m_lastEnd.isValid() || !end.isValid() || !timeline.origin.isValid())
        return std::nullopt;
    const MediaTime from = MediaTime::max(m_lastEnd, timeline.origin);
    if (!(end > from))
        return std::nullopt;
    const double recorded = (timeline.boundary(end) - timeline.boundary(from)).seconds();
    if (recorded < noticeSeconds)
        return std::nullopt;
    m_endTold = true;
    return recorded;
}

} // namespace corvessa
