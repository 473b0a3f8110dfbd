#pragma once
// The saved part of the store read into the data file's records a slice at a
// time, as the store stood at the moment the snapshot began, however it
// changes between the slices.
//
// Two passes go over the saved types in the store's order and over each
// type's items in creation order: the first writes the items saved (and
// numbers them in Item::saveIndex), the second the connections between them
// (and clears the numbers behind it). Each picks up after the creation number
// where the last slice stopped, so nothing is held across slices but numbers.
//
// How the moment is kept: items made after it have later creation numbers and
// are left out. An item that is about to change (a connection made or dropped,
// the item removed) while a pass still has to read it is copied first, as it
// was: the store tells the snapshot before the change (Data::ChangeWatcher).
// The passes read the copy in its place, a removed item's copy at its place in
// creation order. An item no pass needs any more is not copied; one that is
// removed then leaves only its number, for the copies of its partners.
#include "Data.h"
#include "MemStream.h"
#include <QDeadlineTimer>
#include <map>
#include <set>
#include <string>
#include <unordered_map>
#include <vector>

class OutputStream;

class SaveSnapshot : private Data::ChangeWatcher {
public:
    // Begins now: every item of the first types is saved; an item of a type
    // keyed in the map is saved when connected to an item of one of its types.
    SaveSnapshot(Data* data, const std::vector<std::string>& savedTypes,
        const std::map<std::string, std::vector<std::string>>& savedByConnection);
    // Ends the reading, written whole or not, and leaves the store as it was.
    ~SaveSnapshot();
    SaveSnapshot(const SaveSnapshot&) = delete;
    SaveSnapshot& operator=(const SaveSnapshot&) = delete;

    // Writes on into out (the same stream every time) until the deadline has
    // passed; true once the whole file is written.
    bool Run(OutputStream& out, const QDeadlineTimer& until);
    // False when a write to the stream failed.
    bool Written() const { return m_written; }
    // Values longer than DataSaver::kMaxSavedValue, left out: how many, and the type of the first.
    size_t Refused() const { return m_refused; }
    const std::string& RefusedType() const { return m_refusedType; }

private:
    static constexpr quint32 kCopied = 0x80000000u; // in saveIndex: see m_copies
    static constexpr quint32 kNumber = ~kCopied;

    struct Rule {
        Type* type;
        bool whole;
        std::vector<Type*> others; // else saved when connected to one of these
    };
    struct Partner {
        Item* item; // read only while it is in the store
        quint64 serial;
        Type* type;
    };
    // An item as it was at the moment.
    struct Copy {
        quint32 number = 0; // 1 + its place in the file; 0 not saved or not yet known
        bool removed = false;
        bool globalNull = false;
        std::string value;
        std::vector<Partner> partners;
    };

    void BeforeChange(Item* item) override;
    void BeforeRemove(Item* item) override;
    // The rule of the item's type, or -1 when it is not saved.
    int RuleOf(const Item* item) const;
    // Whether the pass has gone past the item.
    bool Passed(int pass, int rule, quint64 serial) const;
    // Whether no pass needs the item any more.
    bool Needless(int rule, quint64 serial, quint32 number) const;
    Copy& Take(Item* item, int rule);
    // One item of the current rule in the current pass, live or copied.
    void Visit(OutputStream& out, Item* item, Copy* copy);
    void WriteItem(Item* item, Copy* copy);
    quint32 NumberOf(const Partner& partner) const;
    void AddConnection(OutputStream& out, quint32 a, quint32 b);
    void FlushRun(OutputStream& out);
    void FlushConnections(OutputStream& out);
    // Clears the numbers of every item of the saved types that the store holds.
    void ClearNumbers(size_t fromRule, quint64 after);

    Data* m_data;
    quint64 m_end; // the first creation number after the moment
    std::vector<Rule> m_rules;
    std::vector<int> m_ruleOfType; // by type ordinal
    // Items copied, by creation number; the copies of removed items per rule.
    std::unordered_map<quint64, Copy> m_copies;
    std::vector<std::set<quint64>> m_removed;

    int m_pass = 0; // 0 items, 1 connections, 2 done
    size_t m_rule = 0;
    quint64 m_after = 0; // the last creation number of the rule that the pass took
    bool m_started = false;
    bool m_written = true;
    quint32 m_count = 0;
    quint64 m_connections = 0;
    size_t m_refused = 0;
    std::string m_refusedType;
    MemStream m_run; // the items of the record being gathered
    quint32 m_runCount = 0;
    std::vector<std::pair<quint32, quint32>> m_block;
};
