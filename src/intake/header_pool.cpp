#include "intake/header_pool.h"

#include <algorithm>
#include <thread>

namespace auralist {

namespace {

int threadsFor(int asked)
{
    return asked > 0 ? asked : static_cast<int>(std::clamp(std::thread::hardware_concurrency(), 2U, 3U));
}

} // namespace

HeaderPool::HeaderPool(std::shared_ptr<HeaderReader> reader, Deliver deliver, int threads)
    : m_pool(
        [reader = std::move(reader)](std::uint32_t record, const std::string &path,
                                     const RecordPool<FactsResult>::Wanted &) {
            std::string error;
            FactsResult result;
            result.record = record;
            result.facts = reader->readWithMetadata(path, error, result.metadata);
            if (result.facts.state == HeaderFacts::State::Failed)
                result.error = error;
            return result;
        },
        std::move(deliver),
        [](const RecordStore &store, std::uint32_t r) { return store.facts(r).state != HeaderFacts::State::Unknown; },
        threadsFor(threads), 8)
{
}

} // namespace auralist
