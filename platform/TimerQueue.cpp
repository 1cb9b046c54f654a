#include "platform/TimerQueue.h"

#include <algorithm>
#include <vector>

namespace kavri {

TimerQueue::TimerId TimerQueue::Start(Clock::TimePoint now, Clock::Duration interval, bool repeat,
                                      Task task) {
    interval = std::max(interval, Clock::Duration::zero());
    if (repeat) {
        interval = std::max(interval, kMinRepeatInterval);
    }
    const TimerId id = m_nextId++;
    const Clock::TimePoint deadline = now + interval;
    m_timers.emplace(id,
                     Timer{deadline, interval, repeat, std::make_shared<Task>(std::move(task))});
    m_order.emplace(deadline, id);
    return id;
}

bool TimerQueue::Stop(TimerId id) {
    const auto it = m_timers.find(id);
    if (it == m_timers.end()) {
        return false;
    }
    m_order.erase(Key{it->second.deadline, id});
    // The callback may be the one running right now; RunDue holds its own
    // reference, so erasing here does not destroy a running function.
    m_timers.erase(it);
    return true;
}

void TimerQueue::Clear() {
    // Move out first: a callback's destructor that touches the queue sees it
    // empty rather than half destroyed.
    std::map<TimerId, Timer> doomed;
    doomed.swap(m_timers);
    m_order.clear();
}

std::optional<Clock::TimePoint> TimerQueue::NextDeadline() const {
    if (m_order.empty()) {
        return std::nullopt;
    }
    return m_order.begin()->first;
}

std::size_t TimerQueue::RunDue(Clock::TimePoint now) {
    // Only the timers due when the pass begins take part, so callbacks that
    // start or re-arm timers cannot make one pass endless.
    std::vector<TimerId> due;
    for (auto it = m_order.begin(); it != m_order.end() && it->first <= now; ++it) {
        due.push_back(it->second);
    }
    std::size_t fired = 0;
    for (const TimerId id : due) {
        const auto it = m_timers.find(id);
        if (it == m_timers.end()) {
            continue;  // stopped by an earlier callback of this pass
        }
        Timer& timer = it->second;
        std::shared_ptr<Task> task = timer.task;
        m_order.erase(Key{timer.deadline, id});
        if (timer.repeat) {
            const auto missed = (now - timer.deadline) / timer.interval;
            timer.deadline += timer.interval * (missed + 1);
            m_order.emplace(timer.deadline, id);
        } else {
            m_timers.erase(it);
        }
        ++fired;
        (*task)();
    }
    return fired;
}

}  // namespace kavri
