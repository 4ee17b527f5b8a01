#include "tools/DimTarget.h"

#include "model/RecorderModel.h"

namespace corvessa {

bool DimTarget::operator==(const DimTarget& other) const
{
    if (kind != other.kind)
        return false;
    switch (kind) {
    case Kind::none:
        return true;
    case Kind::window:
        return id == other.id && size == other.size;
    case Kind::area:
        return id == other.id && rect == other.rect;
    case Kind::display:
        return id == other.id;
    }
    return false;
}

DimTarget DimTarget::forInputs(const Inputs& in)
{
    using P = RecorderPhase::Kind;
    const bool live = in.phase == P::recording || in.phase == P::paused;
    const bool before = in.phase == P::countdown || in.phase == P::ready;
    if (!(live || (before && in.barVisible)))
        return {};
    switch (in.mode) {
    case RangeMode::display:
        return in.screenCount >= 2 ? display(in.display) : DimTarget{};
    case RangeMode::window:
        return in.windowID ? window(*in.windowID, in.windowSize) : DimTarget{};
    case RangeMode::area:
        return in.areaDisplay ? area(*in.areaDisplay, in.areaRect) : DimTarget{};
    }
    return {};
}

DimTarget DimTarget::forModel(const RecorderModel& model, bool barVisible)
{
    Inputs in;
    in.phase = model.phase().kind;
    in.barVisible = barVisible;
    in.mode = model.rangeMode();
    in.display = model.effectiveDisplayID();
    in.screenCount = model.screens().size();
    if (const auto& w = model.windowPick()) {
        in.windowID = w->id;
        in.windowSize = w->size;
    }
    if (const auto& a = model.areaPick()) {
        in.areaDisplay = a->display;
        in.areaRect = a->rect;
    }
    return forInputs(in);
}

} // namespace corvessa
