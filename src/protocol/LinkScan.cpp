// The link scan of a bus: which links have work, and who gets the free request slots.
#include <algorithm>

#include "protocol/Engine.h"

namespace korva {

namespace {
// Nothing to send, nothing in flight, no transfer under way: the link needs no visits.
bool LinkIdle(const KRemoteLink& link) {
    if (link.state == LinkState::GET || link.state == LinkState::SET || link.pending != nullptr) return false;
    const KFileLink* file = link.AsFile();
    return file == nullptr ||
           (file->Operation() == TransferOp::None && file->CurrentStep() == TransferStep::Idle);
}
}  // namespace

Bus::LinkWork& Bus::WorkOf(KRemoteLink& link) {
    LinkWork& work = work_[&link];
    work.link = &link;
    return work;
}

Bus::DeviceWork& Bus::WorkOf(const KDevice& device) {
    const auto [it, made] = devices_.try_emplace(&device);
    if (made) it->second.rank = devices_.size();
    return it->second;
}

bool Bus::Silent(const KDevice& device) const {
    const auto it = devices_.find(&device);
    return it != devices_.end() && it->second.silent;
}

Bus::DeviceHealth Bus::Health(const KDevice& device) const {
    const auto it = devices_.find(&device);
    if (it == devices_.end()) return {};
    return {it->second.replies, it->second.unanswered, it->second.lastReply, it->second.silent};
}

bool Bus::Idle() const {
    if (!active_.empty() || !polled_.empty() || !queue_.Empty()) return false;
    const auto& slots = slots_.All();
    return std::all_of(slots.begin(), slots.end(),
                       [](const RequestSlot& s) { return s.state == SlotState::Free; });
}

void Bus::Activate(KRemoteLink& link) {
    LinkWork& work = WorkOf(link);
    if (link.poll && !work.pollListed) {
        work.pollListed = true;
        polled_.push_back(&work);
    }
    if (!work.active) {
        work.active = true;
        const auto at =
            std::lower_bound(active_.begin(), active_.end(), link.order,
                             [](const LinkWork* w, std::uint32_t order) { return w->link->order < order; });
        active_.insert(at, &work);
    }
    // Work given between ticks goes out at once.
    engine_.Respond();
}

void Bus::FollowRequest(KRemoteLink& link) {
    RequestSlot& slot = *link.pending;
    if (link.state == LinkState::KNOWN) {
        link.ReleasePending();
    } else if (slot.state == SlotState::Failed) {
        link.state = LinkState::ERROR;
        link.fault = slot.offBus ? LinkFault::PortDown : LinkFault::NoReply;
        if (!slot.offBus) {
            // Its try of this period is spent: the device is asked again when the next one starts.
            DeviceWork& device = WorkOf(*link.device);
            ++device.unanswered;
            device.silent = true;
            device.triedThisPeriod = true;
        }
        link.ReleasePending();
    } else if (slot.state == SlotState::Free) {
        // The slot was taken from under the link: it never held its request to the end.
        link.state = LinkState::ERROR;
        link.fault = LinkFault::NoSlot;
        link.pending = nullptr;
    }
    host_.RefreshDeviceTree();
}

void Bus::ScanLinks(bool pollNow) {
    if (pollNow) {
        // Polled links join the active ones; a link whose flag was cleared leaves the list.
        std::erase_if(polled_, [](LinkWork* w) {
            w->pollListed = w->link->poll;
            return !w->link->poll;
        });
        for (LinkWork* work : polled_) Activate(*work->link);
        for (auto& [device, work] : devices_) work.triedThisPeriod = false;
    }
    for (auto& [device, work] : devices_) work.held = 0;
    // A link that a visit activates (nothing does today) would wait for the next pass.
    const std::vector<LinkWork*> visit = active_;
    std::vector<KRemoteLink*> waiting;
    for (LinkWork* work : visit) {
        KRemoteLink* link = work->link;
        link->Step();
        if (link->pending != nullptr) FollowRequest(*link);
        if (link->pending != nullptr) {
            ++WorkOf(*link->device).held;
            continue;
        }
        // The poll also replaces a write that has not gone out yet.
        if (pollNow && link->poll) {
            link->state = LinkState::GET;
            link->ClearFault();
        }
        if (link->state == LinkState::GET || link->state == LinkState::SET) waiting.push_back(link);
    }
    GiveSlots(waiting);
    std::erase_if(active_, [](LinkWork* w) {
        if (!LinkIdle(*w->link)) return false;
        w->active = false;
        return true;
    });
}

void Bus::GiveSlots(const std::vector<KRemoteLink*>& waiting) {
    struct Queue {
        DeviceWork* work;
        std::vector<KRemoteLink*> links;
        std::size_t next = 0;
    };
    std::vector<Queue> queues;
    for (KRemoteLink* link : waiting) {
        DeviceWork* work = &WorkOf(*link->device);
        auto q = std::find_if(queues.begin(), queues.end(), [&](const Queue& x) { return x.work == work; });
        if (q == queues.end()) q = queues.insert(queues.end(), Queue{work, {}});
        q->links.push_back(link);
    }
    // The round goes on from the device after the one served last, and within a device from the
    // link after its last; the links come in model order.
    const auto after = [](std::size_t key, std::size_t last) {
        return key > last ? key : key + SIZE_MAX / 2;
    };
    std::sort(queues.begin(), queues.end(), [&](const Queue& a, const Queue& b) {
        return after(a.work->rank, lastRank_) < after(b.work->rank, lastRank_);
    });
    for (Queue& q : queues)
        std::stable_partition(q.links.begin(), q.links.end(),
                              [&](const KRemoteLink* l) { return l->order > q.work->lastLink; });

    for (bool any = true; any;) {
        any = false;
        for (Queue& q : queues) {
            if (q.next >= q.links.size()) continue;
            KRemoteLink& link = *q.links[q.next++];
            any = true;
            DeviceWork& device = *q.work;
            if (device.silent && device.held > 0) continue;  // its one request is out
            if (device.silent && link.poll && device.triedThisPeriod) {
                // Asked once this period already, without an answer.
                link.state = LinkState::ERROR;
                link.fault = LinkFault::NoReply;
                host_.RefreshDeviceTree();
                continue;
            }
            const bool set = link.state == LinkState::SET;
            if (!(set ? link.Set() : link.Get())) {
                if (link.state == LinkState::ERROR) continue;  // nothing the wire could carry
                return;                                        // no slot is left
            }
            ++device.held;
            device.lastLink = link.order;
            lastRank_ = device.rank;
            if (device.silent && link.poll) device.triedThisPeriod = true;
            if (set) host_.RefreshDeviceTree();
        }
    }
}

}  // namespace korva
