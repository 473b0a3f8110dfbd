#include "SaveSnapshot.h"
#include "DataFileFormat.h"
#include "DataSaver.h"
#include "SlicedWork.h"
#include <algorithm>

using namespace DataFileFormat;

SaveSnapshot::SaveSnapshot(Data* data, const std::vector<std::string>& savedTypes,
    const std::map<std::string, std::vector<std::string>>& savedByConnection)
    : m_data(data)
    , m_end(data->NextSerial())
    , m_ruleOfType(data->Types().size(), -1)
{
    for (Type* type : data->Types()) {
        const bool whole = std::find(savedTypes.begin(), savedTypes.end(), type->Name()) != savedTypes.end();
        const auto some = savedByConnection.find(type->Name());
        if (!whole && some == savedByConnection.end())
            continue;
        Rule rule { type, whole, {} };
        if (!whole) {
            for (const std::string& other : some->second)
                if (Type* t = data->HasType(other))
                    rule.others.push_back(t);
        }
        if (type->Ordinal() < m_ruleOfType.size())
            m_ruleOfType[type->Ordinal()] = int(m_rules.size());
        m_rules.push_back(std::move(rule));
    }
    m_removed.resize(m_rules.size());
    m_data->SetChangeWatcher(this);
}

SaveSnapshot::~SaveSnapshot()
{
    if (m_data->GetChangeWatcher() == this)
        m_data->SetChangeWatcher(nullptr);
    if (m_pass < 2)
        ClearNumbers(m_pass == 1 ? m_rule : 0, m_pass == 1 ? m_after : 0);
}

int SaveSnapshot::RuleOf(const Item* item) const
{
    const quint32 ordinal = item->type->Ordinal();
    return ordinal < m_ruleOfType.size() ? m_ruleOfType[ordinal] : -1;
}

bool SaveSnapshot::Passed(int pass, int rule, quint64 serial) const
{
    if (m_pass != pass)
        return m_pass > pass;
    return size_t(rule) < m_rule || (size_t(rule) == m_rule && serial <= m_after);
}

bool SaveSnapshot::Needless(int rule, quint64 serial, quint32 number) const
{
    return Passed(0, rule, serial) && (number == 0 || Passed(1, rule, serial));
}

SaveSnapshot::Copy& SaveSnapshot::Take(Item* item, int rule)
{
    Copy& copy = m_copies[item->serial];
    copy.number = item->saveIndex & kNumber;
    copy.globalNull = item->type->IsGlobalNullItem(item);
    if (!Passed(0, rule, item->serial))
        copy.value.assign(std::string_view(item->value));
    item->connections.ForEach([&](Item* partner) {
        if (partner->serial < m_end)
            copy.partners.push_back({ partner, partner->serial, partner->type });
    });
    item->saveIndex |= kCopied;
    return copy;
}

void SaveSnapshot::BeforeChange(Item* item)
{
    if (item->serial >= m_end || (item->saveIndex & kCopied))
        return;
    const int rule = RuleOf(item);
    if (rule >= 0 && !Needless(rule, item->serial, item->saveIndex & kNumber))
        Take(item, rule);
}

void SaveSnapshot::BeforeRemove(Item* item)
{
    if (item->serial >= m_end)
        return;
    const int rule = RuleOf(item);
    if (rule < 0)
        return;
    Copy* copy;
    if (item->saveIndex & kCopied) {
        copy = &m_copies[item->serial];
    } else if (Needless(rule, item->serial, item->saveIndex & kNumber)) {
        // Its number stays for the copies of its partners that follow it.
        copy = &m_copies[item->serial];
        copy->number = item->saveIndex & kNumber;
    } else {
        copy = &Take(item, rule);
    }
    copy->removed = true;
    if (!Needless(rule, item->serial, copy->number))
        m_removed[size_t(rule)].insert(item->serial);
}

quint32 SaveSnapshot::NumberOf(const Partner& partner) const
{
    const quint32 ordinal = partner.type->Ordinal();
    if (ordinal >= m_ruleOfType.size() || m_ruleOfType[ordinal] < 0)
        return 0;
    const auto copy = m_copies.find(partner.serial);
    if (copy != m_copies.end())
        return copy->second.number;
    // Not copied: never removed since the moment, so still in the store.
    return partner.item->saveIndex & kNumber;
}

void SaveSnapshot::WriteItem(Item* item, Copy* copy)
{
    const Rule& rule = m_rules[m_rule];
    bool saved = rule.whole;
    for (Type* other : rule.others) {
        if (saved)
            break;
        if (copy)
            saved = std::any_of(copy->partners.begin(), copy->partners.end(),
                [other](const Partner& p) { return p.type == other; });
        else
            saved = item->connections.First(other);
    }
    if (!saved)
        return;
    const std::string_view value = copy ? std::string_view(copy->value) : std::string_view(item->value);
    if (value.size() > DataSaver::kMaxSavedValue) {
        if (!m_refused++)
            m_refusedType = rule.type->Name();
        return;
    }
    const quint32 number = ++m_count;
    if (copy)
        copy->number = number;
    if (item)
        item->saveIndex = (item->saveIndex & kCopied) | number;
    const bool globalNull = copy ? copy->globalNull : rule.type->IsGlobalNullItem(item);
    const quint8 flags = globalNull ? kGlobalNullFlag : 0;
    if (value.size() <= kMaxStreamCount) {
        m_run.WriteText(value);
        m_run.WriteUInt8(flags);
    } else {
        const size_t pieces = (value.size() + kMaxStreamCount - 1) / kMaxStreamCount;
        m_run.WriteText(std::string_view());
        m_run.WriteUInt8(flags | kLongValueFlag);
        m_run.WriteUInt32(quint32(pieces));
        for (size_t p = 0; p < pieces; ++p)
            m_run.WriteText(value.substr(p * kMaxStreamCount, kMaxStreamCount));
    }
    ++m_runCount;
}

void SaveSnapshot::FlushRun(OutputStream& out)
{
    if (m_runCount == 0)
        return;
    const QByteArray run = m_run.GetBuffer();
    m_written = out.WriteUInt8(kItems) && out.WriteString(m_rules[m_rule].type->Name())
        && out.WriteUInt32(m_runCount) && out.WriteBytes(run.constData(), run.size()) && m_written;
    m_run.Clear();
    m_runCount = 0;
}

void SaveSnapshot::AddConnection(OutputStream& out, quint32 a, quint32 b)
{
    m_block.emplace_back(a - 1, b - 1);
    if (m_block.size() == kMaxStreamCount)
        FlushConnections(out);
}

void SaveSnapshot::FlushConnections(OutputStream& out)
{
    if (m_block.empty())
        return;
    bool good = out.WriteUInt8(kConnections) && out.WriteUInt32(quint32(m_block.size()));
    for (const auto& [a, b] : m_block) {
        out.WriteUInt32(a);
        good = out.WriteUInt32(b) && good;
    }
    m_written = good && m_written;
    m_connections += m_block.size();
    m_block.clear();
}

void SaveSnapshot::Visit(OutputStream& out, Item* item, Copy* copy)
{
    if (m_pass == 0) {
        WriteItem(item, copy);
        if (m_runCount == kMaxStreamCount)
            FlushRun(out);
        return;
    }
    // Each connection once, from the end that comes first in the file. The
    // items come in the order of their numbers: one that came before has
    // written its connections, and no later one needs its number.
    const quint32 number = copy ? copy->number : item->saveIndex & kNumber;
    if (item)
        item->saveIndex = 0;
    if (number == 0)
        return;
    if (copy) {
        for (const Partner& partner : copy->partners) {
            const quint32 other = NumberOf(partner);
            if (other > number)
                AddConnection(out, number, other);
        }
        return;
    }
    item->connections.ForEach([&](Item* partner) {
        const quint32 other = partner->serial < m_end ? partner->saveIndex & kNumber : 0;
        if (other > number)
            AddConnection(out, number, other);
    });
}

bool SaveSnapshot::Run(OutputStream& out, const QDeadlineTimer& until)
{
    if (!m_started) {
        m_started = true;
        m_written = out.WriteBytes(kMagic, 8) && out.WriteUInt32(kVersion);
    }
    int done = 0;
    while (m_pass < 2) {
        if (m_rule == m_rules.size()) {
            if (m_pass == 1) {
                FlushConnections(out);
                m_written = out.WriteUInt8(kEnd) && out.WriteUInt32(m_count)
                    && out.WriteUInt32(quint32(m_connections)) && m_written;
                m_data->SetChangeWatcher(nullptr);
                std::unordered_map<quint64, Copy>().swap(m_copies);
                m_removed.clear();
            }
            ++m_pass;
            m_rule = 0;
            m_after = 0;
            continue;
        }
        const ChunkedSet& items = m_rules[m_rule].type->Items();
        ChunkedSet::Position p = items.After(m_after);
        const std::set<quint64>& removed = m_removed[m_rule];
        auto next = removed.upper_bound(m_after);
        for (;;) {
            Item* live = items.Valid(p) ? items.At(p) : nullptr;
            if (live && live->serial >= m_end)
                live = nullptr;
            const bool gone = next != removed.end() && (!live || *next < live->serial);
            if (!live && !gone) {
                if (m_pass == 0)
                    FlushRun(out);
                ++m_rule;
                m_after = 0;
                break;
            }
            if (gone) {
                m_after = *next++;
                Visit(out, nullptr, &m_copies.at(m_after));
            } else {
                m_after = live->serial;
                Visit(out, live, (live->saveIndex & kCopied) ? &m_copies.at(live->serial) : nullptr);
                items.Advance(p);
            }
            if (++done % SlicedWork::kItemsAtOnce == 0 && until.hasExpired())
                return false;
        }
    }
    return true;
}

void SaveSnapshot::ClearNumbers(size_t fromRule, quint64 after)
{
    for (size_t r = fromRule; r < m_rules.size(); ++r) {
        const ChunkedSet& items = m_rules[r].type->Items();
        for (ChunkedSet::Position p = items.After(r == fromRule ? after : 0); items.Valid(p); items.Advance(p))
            items.At(p)->saveIndex = 0;
    }
}
