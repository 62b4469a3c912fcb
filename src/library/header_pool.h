#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "core/header_facts.h"
#include "core/mailbox.h"
#include "core/services.h"
#include "core/worker_thread.h"

namespace auralist {

// Reads sound file headers for the table.
//
// Threads: a few workers (two or three) and the main thread. The workers
// own nothing but the reads in their hands; the queue of what is still to
// read (an order to follow, the rows on screen to take first) is guarded
// by one mutex. A worker reads only the paths of a store that takes no
// more records; facts travel back to the main thread in batches (every
// 50 ms or so) as queued calls to deliver, which alone writes them into
// the store. The destructor joins the workers; the application object
// stops them first with a limit, so one stuck on a dead disk does not hold
// up quitting.
class HeaderPool : public HeaderFeed, public Stoppable {
public:
    using Deliver = std::function<void(const RecordStorePtr &, const std::vector<FactsResult> &)>;
    HeaderPool(std::shared_ptr<HeaderReader> reader, Deliver deliver, int threads = 0);
    ~HeaderPool() override;
    HeaderPool(const HeaderPool &) = delete;
    HeaderPool &operator=(const HeaderPool &) = delete;

    void readStore(const RecordStorePtr &store, std::vector<std::uint32_t> order) override;
    void prefer(const RecordStorePtr &store, std::vector<std::uint32_t> records) override;

    // How many reads are still to come (tests and measurement).
    std::size_t pending() const;

    void requestStop() override;
    bool waitStopped(Deadline deadline) override;

private:
    struct Shared;
    std::unique_ptr<Shared> m_shared;
    Mailbox m_mailbox;
    std::vector<WorkerThread> m_workers; // last: they go first
};

} // namespace auralist
