// The find field's query language on arbitrary text: it is read without a
// crash, keeps every term it cannot read as text, and is matched against
// a few sounds with and without what a header and the analysis give.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "core/query.h"
#include "core/records.h"

using namespace auralist;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const std::string text(reinterpret_cast<const char *>(data), size);
    const Query query = parseQuery(text);
    for (const Query::Term &t : query.terms) {
        // A text term is never empty; a range is never the wrong way round.
        if (t.field == Query::Field::Word && t.text.empty())
            std::abort();
        if (std::isnan(t.low) || std::isnan(t.high) || t.low > t.high)
            std::abort();
    }
    static RecordStore *store = [] {
        auto *s = new RecordStore;
        s->add("/a/Kick 01.wav");
        s->add("/b/\xff\xfe odd.wav");
        HeaderFacts facts;
        facts.state = HeaderFacts::State::Read;
        facts.rate = 48000;
        facts.frames = 96000;
        facts.channels = 2;
        facts.size = 1000;
        s->setFacts(0, facts);
        SoundTraits traits;
        traits.state = SoundTraits::State::Analysed;
        traits.loop = true;
        traits.bpm = 120;
        traits.note = 57;
        traits.loudness = -14;
        s->setTraits(0, traits);
        s->setTags(0, "a, b");
        return s;
    }();
    for (std::uint32_t r = 0; r < store->size(); ++r) {
        (void)matchesQuery(query, *store, r);
        (void)lacksValueFor(query, *store, r);
    }
    return 0;
}
