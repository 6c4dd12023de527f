#include "net/name_lookup.h"

#include <condition_variable>
#include <exception>
#include <mutex>
#include <optional>
#include <thread>

namespace vistrel {

struct Name_Lookup::Shared {
    mutable std::mutex mutex;
    std::condition_variable changed;
    std::optional<std::vector<Endpoint>> endpoints;
    std::exception_ptr failure;
    uint64_t interruptions = 0;
    bool abandoned = false;
};

Name_Lookup::Name_Lookup(Resolver resolver, std::string host, uint16_t port)
    : shared_(std::make_shared<Shared>()), host_(host), port_(port) {
    // The thread owns its share of the state: it may outlive this object.
    std::thread([shared = shared_, resolver = std::move(resolver), host = std::move(host), port] {
        std::optional<std::vector<Endpoint>> endpoints;
        std::exception_ptr failure;
        try {
            endpoints = resolver(host, port);
        } catch (...) {
            failure = std::current_exception();
        }
        std::lock_guard lock(shared->mutex);
        shared->endpoints = std::move(endpoints);
        shared->failure = failure;
        shared->changed.notify_all();
    }).detach();
}

bool Name_Lookup::Answered() const {
    std::lock_guard lock(shared_->mutex);
    return shared_->endpoints || shared_->failure;
}

Name_Lookup::Ticket Name_Lookup::Take_Ticket() const {
    std::lock_guard lock(shared_->mutex);
    return shared_->interruptions;
}

std::vector<Endpoint> Name_Lookup::Wait(Ticket ticket, Deadline deadline) {
    std::unique_lock lock(shared_->mutex);
    const auto cut = [&] { return shared_->abandoned || shared_->interruptions != ticket; };
    const auto over = [&] { return cut() || shared_->endpoints || shared_->failure; };
    if (deadline == Deadline::max())
        shared_->changed.wait(lock, over);
    else if (!shared_->changed.wait_until(lock, deadline, over))
        throw Socket_Timeout("no address for " + host_ + " in time");
    if (cut())
        throw Socket_Error("the lookup of " + host_ + " was abandoned");
    if (shared_->failure)
        std::rethrow_exception(shared_->failure);
    return *shared_->endpoints;
}

void Name_Lookup::Interrupt() noexcept {
    std::lock_guard lock(shared_->mutex);
    ++shared_->interruptions;
    shared_->changed.notify_all();
}

void Name_Lookup::Abandon() noexcept {
    std::lock_guard lock(shared_->mutex);
    shared_->abandoned = true;
    shared_->changed.notify_all();
}

} // namespace vistrel
