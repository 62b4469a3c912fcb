#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "core/header_facts.h"
#include "core/mailbox.h"
#include "core/services.h"
#include "core/worker_thread.h"
#include "intake/record_pool.h"

namespace auralist {

// Reads sound file headers for the table: a pool of two or three
// workers (see RecordPool), each read one header.
class HeaderPool : public HeaderFeed, public Stoppable {
public:
    using Deliver = std::function<void(const RecordStorePtr &, const std::vector<FactsResult> &)>;
    HeaderPool(std::shared_ptr<HeaderReader> reader, Deliver deliver, int threads = 0);

    void readStore(const RecordStorePtr &store, std::vector<std::uint32_t> order) override
    {
        m_pool.start(store, std::move(order));
    }
    void prefer(const RecordStorePtr &store, std::vector<std::uint32_t> records) override
    {
        m_pool.prefer(store, std::move(records));
    }
    // How many reads are still to come (tests and measurement).
    std::size_t pending() const { return m_pool.pending(); }

    void requestStop() override { m_pool.requestStop(); }
    bool waitStopped(Deadline deadline) override { return m_pool.waitStopped(deadline); }

private:
    RecordPool<FactsResult> m_pool;
};

} // namespace auralist
