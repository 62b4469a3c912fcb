#include "core/query.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <limits>
#include <optional>

#include "core/header_facts.h"
#include "core/smalltalk.h"
#include "core/sound_traits.h"

namespace auralist {

namespace {

using Field = Query::Field;

struct FieldName {
    std::string_view name;
    Field field;
};

constexpr std::array<FieldName, 19> kFields{{
    {"desc", Field::Description},  {"description", Field::Description},
    {"name", Field::Name},         {"path", Field::Path},
    {"tag", Field::Tag},           {"is", Field::Favourite},
    {"format", Field::Format},     {"type", Field::Type},
    {"note", Field::Note},         {"len", Field::Length},
    {"length", Field::Length},     {"rate", Field::Rate},
    {"ch", Field::Channels},       {"channels", Field::Channels},
    {"size", Field::Size},         {"bpm", Field::Bpm},
    {"loud", Field::Loudness},     {"tags", Field::Tag},
    {"loudness", Field::Loudness},
}};

std::optional<Field> fieldNamed(std::string_view name)
{
    for (const FieldName &f : kFields) {
        if (f.name == name)
            return f.field;
    }
    return std::nullopt;
}

bool isNumeric(Field f)
{
    return f == Field::Length || f == Field::Rate || f == Field::Channels || f == Field::Size || f == Field::Bpm
        || f == Field::Loudness;
}

// What a number of the field looks like, for a hint.
const char *exampleOf(Field f)
{
    switch (f) {
    case Field::Length: return "a length, such as <3s, 500ms or 1..2m";
    case Field::Rate: return "a sample rate, such as 48k or >=44100";
    case Field::Channels: return "a number of channels, such as 2 or >1";
    case Field::Size: return "a size, such as <2MB or 100KB..1MB";
    case Field::Bpm: return "a tempo, such as 120 or 118..122";
    case Field::Loudness: return "a loudness in LUFS, such as >-14 or -20..-10";
    case Field::Type: return "loop or oneshot";
    case Field::Note: return "a note, such as A3, C#2 or Bb";
    case Field::Favourite: return "favourite (or fav)";
    default: return "some text";
    }
}

struct Amount {
    double value = 0;
    double halfStep = 0.5; // half a unit of its last digit, in the field's unit
};

// A number with the field's units: "1.5s" -> 1.5, "500ms" -> 0.5, "48k" -> 48000.
std::optional<Amount> amountOf(Field field, std::string_view text, std::string_view defaultUnit = {})
{
    if (text.empty())
        return std::nullopt;
    double value = 0;
    const char *first = text.data();
    const char *last = text.data() + text.size();
    if (*first == '+')
        ++first;
    const auto [end, error] = std::from_chars(first, last, value);
    if (error != std::errc() || !std::isfinite(value))
        return std::nullopt;
    // Half a unit of the last digit written.
    const std::string_view digits(first, static_cast<std::size_t>(end - first));
    const auto point = digits.find('.');
    double half = 0.5;
    if (point != std::string_view::npos && digits.find_first_of("eE") == std::string_view::npos)
        half = 0.5 * std::pow(10.0, -static_cast<double>(digits.size() - point - 1));
    std::string_view unit(end, static_cast<std::size_t>(last - end));
    if (unit.empty())
        unit = defaultUnit;
    double scale = 1;
    const auto is = [&](std::initializer_list<std::string_view> names) {
        return std::find(names.begin(), names.end(), unit) != names.end();
    };
    switch (field) {
    case Field::Length:
        if (is({"", "s", "sec", "secs"}))
            scale = 1;
        else if (is({"ms"}))
            scale = 0.001;
        else if (is({"m", "min", "mins"}))
            scale = 60;
        else if (is({"h"}))
            scale = 3600;
        else
            return std::nullopt;
        break;
    case Field::Rate:
        if (is({"", "hz"}))
            scale = 1;
        else if (is({"k", "khz"}))
            scale = 1000;
        else
            return std::nullopt;
        break;
    case Field::Size:
        if (is({"", "b"}))
            scale = 1;
        else if (is({"k", "kb"}))
            scale = 1e3;
        else if (is({"m", "mb"}))
            scale = 1e6;
        else if (is({"g", "gb"}))
            scale = 1e9;
        else
            return std::nullopt;
        break;
    case Field::Bpm:
        if (!is({"", "bpm"}))
            return std::nullopt;
        break;
    case Field::Loudness:
        if (!is({"", "lufs", "lu"}))
            return std::nullopt;
        break;
    default:
        if (!unit.empty())
            return std::nullopt;
        break;
    }
    return Amount{value * scale, half * scale};
}

// The unit letters at the end of an amount ("2s" -> "s").
std::string_view unitOf(std::string_view text)
{
    std::size_t i = text.size();
    while (i > 0 && std::isalpha(static_cast<unsigned char>(text[i - 1])) != 0)
        --i;
    return text.substr(i);
}

bool readNumber(Query::Term &term, std::string_view value)
{
    const auto range = value.find("..");
    if (range != std::string_view::npos) {
        const std::string_view from = value.substr(0, range);
        const std::string_view to = value.substr(range + 2);
        // "1..2s": the unit of the second stands for both.
        const auto high = amountOf(term.field, to);
        const auto low = amountOf(term.field, from, unitOf(to));
        if (!low || !high)
            return false;
        term.low = std::min(low->value, high->value);
        term.high = std::max(low->value, high->value);
        return true;
    }
    std::string_view op;
    for (const std::string_view o : {"<=", ">=", "<", ">", "="}) {
        if (value.starts_with(o)) {
            op = o;
            break;
        }
    }
    const auto amount = amountOf(term.field, value.substr(op.size()));
    if (!amount)
        return false;
    const double x = amount->value;
    constexpr double kFar = std::numeric_limits<double>::infinity();
    if (op == "<" || op == "<=") {
        term.low = -kFar;
        term.high = x;
        term.highIncluded = op == "<=";
    } else if (op == ">" || op == ">=") {
        term.low = x;
        term.high = kFar;
        term.lowIncluded = op == ">=";
    } else {
        // As written: "2s" is anything that shows as 2 s.
        term.low = x - amount->halfStep;
        term.high = x + amount->halfStep;
        term.highIncluded = false;
    }
    return true;
}

bool readNote(Query::Term &term, std::string_view value)
{
    static constexpr std::array<int, 7> kClasses{9, 11, 0, 2, 4, 5, 7}; // a..g
    if (value.empty() || value[0] < 'a' || value[0] > 'g')
        return false;
    int pitch = kClasses[static_cast<std::size_t>(value[0] - 'a')];
    std::size_t i = 1;
    if (i < value.size() && (value[i] == '#' || value[i] == 'b')) {
        pitch += value[i] == '#' ? 1 : -1;
        ++i;
    }
    const std::string_view octave = value.substr(i);
    if (octave.empty()) {
        term.anyOctave = true;
        term.note = (pitch + 12) % 12;
        return true;
    }
    int o = 0;
    const auto [end, error] = std::from_chars(octave.data(), octave.data() + octave.size(), o);
    if (error != std::errc() || end != octave.data() + octave.size() || o < -1 || o > 9)
        return false;
    term.note = (o + 1) * 12 + pitch;
    return term.note >= 0 && term.note <= 127;
}

// The text of the term's value, read for its field; false: it cannot be.
bool readValue(Query::Term &term, std::string_view value)
{
    switch (term.field) {
    case Field::Favourite: return value == "favourite" || value == "fav" || value == "favorite";
    case Field::Type: term.loop = value == "loop"; return term.loop || value == "oneshot" || value == "one-shot";
    case Field::Note: return readNote(term, value);
    default: break;
    }
    if (isNumeric(term.field))
        return readNumber(term, value);
    term.text = std::string(value);
    return true;
}

// The tokens of text: runs of non-space, a quoted part keeping its spaces
// (the quotes dropped); an unclosed quote runs to the end.
struct Token {
    std::string text;
    bool quoted = false; // began with a quote (after any -): plain text
};

std::vector<Token> tokensOf(std::string_view text)
{
    std::vector<Token> out;
    std::size_t i = 0;
    while (i < text.size()) {
        if (std::isspace(static_cast<unsigned char>(text[i])) != 0) {
            ++i;
            continue;
        }
        Token token;
        while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i])) == 0) {
            if (text[i] == '"') {
                const auto close = text.find('"', i + 1);
                const std::size_t end = close == std::string_view::npos ? text.size() : close;
                token.quoted = token.quoted || token.text.empty() || token.text == "-";
                token.text.append(text.substr(i + 1, end - i - 1));
                i = close == std::string_view::npos ? text.size() : close + 1;
            } else {
                token.text.push_back(text[i++]);
            }
        }
        out.push_back(std::move(token));
    }
    return out;
}

std::string quote(std::string_view text)
{
    return "\u201c" + std::string(text) + "\u201d";
}

bool inRange(const Query::Term &t, double v)
{
    return (t.lowIncluded ? v >= t.low : v > t.low) && (t.highIncluded ? v <= t.high : v < t.high);
}

std::string_view descriptionOf(const RecordStore &store, std::uint32_t r)
{
    const FileMetadata *m = store.metadata(r);
    return m ? std::string_view(m->description) : std::string_view();
}

bool noteMatches(const Query::Term &t, int note)
{
    return t.anyOctave ? note % 12 == t.note : note == t.note;
}

// The term's verdict on record, or nothing when the value is not known.
std::optional<bool> verdict(const Query::Term &t, const RecordStore &store, std::uint32_t r, bool allText,
                            FoldedFolders &folders)
{
    switch (t.field) {
    case Field::Word:
        if ((store.nameLetters(r) & t.letters) == t.letters && containsFolded(store.foldedName(r), t.text))
            return true;
        if (!allText)
            return false;
        return containsFolded(folders.of(store, r), t.text) || containsFolded(caseFold(store.tags(r)), t.text)
            || containsFolded(caseFold(descriptionOf(store, r)), t.text);
    case Field::Description: return containsFolded(caseFold(descriptionOf(store, r)), t.text);
    case Field::Name:
        return (store.nameLetters(r) & t.letters) == t.letters && containsFolded(store.foldedName(r), t.text);
    case Field::Path: return containsFolded(folders.of(store, r), t.text);
    case Field::Tag: return containsFolded(caseFold(store.tags(r)), t.text);
    case Field::Favourite: return store.favourite(r);
    default: break;
    }
    const HeaderFacts &facts = store.facts(r);
    const bool read = facts.state == HeaderFacts::State::Read;
    switch (t.field) {
    case Field::Format:
        if (!read)
            return std::nullopt;
        return containsFolded(caseFold(factText(facts, kFormatKey)), t.text);
    case Field::Length:
        if (!read || facts.rate == 0)
            return std::nullopt;
        return inRange(t, static_cast<double>(facts.frames) / facts.rate);
    case Field::Rate:
        if (!read)
            return std::nullopt;
        return inRange(t, facts.rate);
    case Field::Channels:
        if (!read)
            return std::nullopt;
        return inRange(t, facts.channels);
    case Field::Size:
        if (!read)
            return std::nullopt;
        return inRange(t, static_cast<double>(facts.size));
    default: break;
    }
    const SoundTraits &traits = store.traits(r);
    const bool analysed = traits.state == SoundTraits::State::Analysed;
    // The file's own tempo and root note, where the analysis has none.
    if (const FileMetadata *m = store.metadata(r)) {
        if (t.field == Field::Bpm && m->bpm > 0 && !(analysed && std::isfinite(traits.bpm) && traits.bpm > 0))
            return inRange(t, m->bpm);
        if (t.field == Field::Note && m->rootNote >= 0 && !(analysed && traits.note >= 0))
            return noteMatches(t, m->rootNote);
    }
    if (!analysed)
        return std::nullopt;
    switch (t.field) {
    case Field::Type: return traits.loop == t.loop;
    case Field::Note:
        if (traits.note < 0)
            return false;
        return noteMatches(t, traits.note);
    case Field::Bpm: return std::isfinite(traits.bpm) && traits.bpm > 0 && inRange(t, traits.bpm);
    case Field::Loudness: return std::isfinite(traits.loudness) && inRange(t, traits.loudness);
    default: return false;
    }
}

} // namespace

bool Query::onlyRequiredWords() const
{
    return std::all_of(terms.begin(), terms.end(),
                       [](const Term &t) { return !t.negated && (t.field == Field::Word || t.field == Field::Name); });
}

bool Query::dependsOnNamesOnly() const
{
    return std::all_of(terms.begin(), terms.end(), [](const Term &t) {
        return t.field == Field::Word || t.field == Field::Name || t.field == Field::Path;
    });
}

bool Query::needsAnalysis() const
{
    return std::any_of(terms.begin(), terms.end(), [](const Term &t) {
        return t.field == Field::Type || t.field == Field::Note || t.field == Field::Bpm || t.field == Field::Loudness;
    });
}

Query parseQuery(std::string_view text)
{
    Query query;
    for (Token &token : tokensOf(text)) {
        Query::Term term;
        std::string_view body = token.text;
        if (body.size() > 1 && body[0] == '-') {
            term.negated = true;
            body.remove_prefix(1);
        }
        const std::string folded = caseFold(body);
        const auto colon = folded.find(':');
        const auto field = !token.quoted && colon != std::string::npos && colon > 0
            ? fieldNamed(folded.substr(0, colon))
            : std::nullopt;
        if (field) {
            const std::string_view value = std::string_view(folded).substr(colon + 1);
            term.field = *field;
            if (value.empty()) {
                // Still being typed: no term yet.
                query.hints.push_back(std::string(folded) + " needs " + exampleOf(*field));
                continue;
            }
            if (readValue(term, value)) {
                query.terms.push_back(std::move(term));
                continue;
            }
            query.hints.push_back(quote(token.text) + " is searched as text: " + folded.substr(0, colon + 1) + " takes "
                                  + exampleOf(*field));
            term = Query::Term{};
            term.negated = token.text.size() > 1 && token.text[0] == '-';
        }
        term.field = Field::Word;
        term.text = folded;
        if (!term.text.empty())
            query.terms.push_back(std::move(term));
    }
    for (Query::Term &t : query.terms) {
        if (t.field == Field::Word || t.field == Field::Name) {
            t.letters = RecordStore::lettersOf(t.text);
            if (!t.negated)
                query.nameLetters |= t.letters;
        }
    }
    return query;
}

std::string_view FoldedFolders::of(const RecordStore &store, std::uint32_t record)
{
    const auto folderPart = [&store, record](const std::string &path) {
        return std::string_view(path).substr(0, path.size() - store.name(record).size());
    };
    if (store.edited(record)) {
        m_edited = caseFold(folderPart(store.path(record)));
        return m_edited;
    }
    const std::uint32_t folder = store.folderOf(record);
    if (folder == RecordStore::kNoFolder)
        return {};
    const auto [at, added] = m_folded.try_emplace(folder);
    if (added)
        at->second = caseFold(std::string(store.folderPath(folder)) + '/');
    return at->second;
}

bool matchesQuery(const Query &query, const RecordStore &store, std::uint32_t record, bool allText,
                  FoldedFolders *folders)
{
    FoldedFolders once;
    FoldedFolders &kept = folders ? *folders : once;
    for (const Query::Term &t : query.terms) {
        const auto v = verdict(t, store, record, allText, kept);
        if (!v || *v == t.negated)
            return false;
    }
    return true;
}

bool lacksValueFor(const Query &query, const RecordStore &store, std::uint32_t record, FoldedFolders *folders)
{
    FoldedFolders once;
    FoldedFolders &kept = folders ? *folders : once;
    return std::any_of(query.terms.begin(), query.terms.end(),
                       [&](const Query::Term &t) { return !verdict(t, store, record, false, kept).has_value(); });
}

const char *queryHelp()
{
    return "Words are found in the name, each on its own, all of them required.\n"
           "-word leaves out, \"two words\" keeps words together.\n"
           "name:  path:  tag:  desc:  format:  is:favourite  type:loop  type:oneshot  note:A3\n"
           "len:<3s  len:500ms..2s  rate:48k  ch:2  size:<2MB  bpm:118..122  loud:>-14\n"
           "Numbers take <, <=, >, >=, = or a range a..b.";
}

} // namespace auralist
