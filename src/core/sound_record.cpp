#include "core/sound_record.h"

#include "core/file_type.h"
#include "core/smalltalk.h"

namespace auralist {

Record::Record(std::string name, std::string path) : m_name(std::move(name)), m_path(std::move(path)) {}

const std::string *Record::value(std::string_view key) const
{
    if (key == "name")
        return m_hasName ? &m_name : nullptr;
    if (key == "path")
        return m_hasPath ? &m_path : nullptr;
    if (m_extra) {
        for (const Extra &e : *m_extra) {
            if (e.key == key)
                return &e.value;
        }
    }
    return nullptr;
}

void Record::setValue(std::string_view key, std::string value)
{
    if (key == "name") {
        m_name = std::move(value);
        m_hasName = true;
        m_hasFolded = false;
        return;
    }
    if (key == "path") {
        m_path = std::move(value);
        m_hasPath = true;
        return;
    }
    if (!m_extra)
        m_extra = std::make_unique<std::vector<Extra>>();
    for (Extra &e : *m_extra) {
        if (e.key == key) {
            e.value = std::move(value);
            return;
        }
    }
    m_extra->push_back({std::string(key), std::move(value)});
}

const std::string &Record::foldedName() const
{
    if (!m_hasFolded) {
        m_folded = caseFold(m_name);
        m_hasFolded = true;
    }
    return m_folded;
}

bool Record::operator==(const Record &other) const
{
    if (m_hasName != other.m_hasName || m_hasPath != other.m_hasPath)
        return false;
    if ((m_hasName && m_name != other.m_name) || (m_hasPath && m_path != other.m_path))
        return false;
    const size_t mine = m_extra ? m_extra->size() : 0;
    const size_t theirs = other.m_extra ? other.m_extra->size() : 0;
    if (mine != theirs)
        return false;
    for (size_t i = 0; i < mine; ++i) {
        const std::string *v = other.value((*m_extra)[i].key);
        if (!v || *v != (*m_extra)[i].value)
            return false;
    }
    return true;
}

SoundRecord makeSoundRecord(const std::string &path)
{
    return std::make_shared<Record>(std::string(lastPathComponent(path)), path);
}

SoundList makeSoundList()
{
    return std::make_shared<std::vector<SoundRecord>>();
}

bool hasPath(const Record &record, std::string_view path)
{
    const std::string *p = record.value("path");
    return p && *p == path;
}

} // namespace auralist
