#include "sim/Scenario.h"

#include "platform/Text.h"

#include <algorithm>

namespace kavri::sim {
namespace {

// Empty means "always": a device or radio that the scenario gives no times for
// is there from start to end.
bool PresentDuring(const std::vector<Interval>& intervals, std::int64_t nowMs) {
    if (intervals.empty())
        return true;
    return std::any_of(intervals.begin(), intervals.end(),
                       [nowMs](const Interval& interval) { return interval.Contains(nowMs); });
}

bool SameAddress(const std::string& a, const std::string& b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return UpperAscii(x) == UpperAscii(y);
           });
}

}  // namespace

bool Scenario::IsInstalled(StackKind kind) const {
    return std::find(installedStacks.begin(), installedStacks.end(), kind) != installedStacks.end();
}

bool Scenario::RadioPresentAt(std::int64_t nowMs) const {
    return PresentDuring(radio.present, nowMs);
}

const RadioSpec& Scenario::RadioOf(StackKind stack) const {
    for (const RadioSpec& own : stackRadios) {
        if (std::find(own.on.begin(), own.on.end(), stack) != own.on.end())
            return own;
    }
    return radio;
}

bool Scenario::RadioPresentAt(std::int64_t nowMs, StackKind stack) const {
    return PresentDuring(RadioOf(stack).present, nowMs);
}

std::vector<const DeviceSpec*> Scenario::DevicesPresentAt(std::int64_t nowMs) const {
    std::vector<const DeviceSpec*> present;
    for (const DeviceSpec& device : devices) {
        if (PresentDuring(device.presence, nowMs))
            present.push_back(&device);
    }
    return present;
}

std::vector<const DeviceSpec*> Scenario::DevicesPresentAt(std::int64_t nowMs,
                                                          StackKind stack) const {
    std::vector<const DeviceSpec*> present = DevicesPresentAt(nowMs);
    std::erase_if(present,
                  [stack](const DeviceSpec* device) { return !device->IsVisibleOn(stack); });
    return present;
}

const DeviceSpec* Scenario::FindDevice(const std::string& address) const {
    for (const DeviceSpec& device : devices) {
        if (SameAddress(device.address, address))
            return &device;
    }
    return nullptr;
}

}  // namespace kavri::sim
