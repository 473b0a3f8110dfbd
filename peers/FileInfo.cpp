#include "FileInfo.h"

bool AttributeMap::Read(InputStream& in)
{
    if (!in.ReadString(extension))
        return false;
    attributes.clear();
    quint32 count;
    if (!in.ReadCount(count))
        return false;
    for (quint32 i = 0; i < count; ++i) {
        quint32 code;
        quint32 value;
        if (!in.ReadUInt32(code) || !in.ReadUInt32(value))
            return false;
        attributes.emplace_back(code, value);
    }
    return true;
}

bool AttributeMap::Write(OutputStream& out) const
{
    if (!out.WriteString(extension) || !out.WriteUInt32(quint32(attributes.size())))
        return false;
    for (const auto& [code, value] : attributes) {
        if (!out.WriteUInt32(code) || !out.WriteUInt32(value))
            return false;
    }
    return true;
}

bool FileInfo::Read(InputStream& in)
{
    quint8 present;
    if (!in.ReadUInt8(present))
        return false;
    if (present == 0)
        return true;
    std::string newName;
    qint64 newSize;
    if (!in.ReadString(newName) || !in.ReadInt64(newSize))
        return false;
    name = std::move(newName);
    size = newSize;
    return attributes.Read(in);
}

bool FileInfo::Write(OutputStream& out) const
{
    return out.WriteUInt8(1) && out.WriteString(name) && out.WriteInt64(size) && attributes.Write(out);
}

namespace {

// What a list may still take: records, and bytes of their footprints.
struct Budget {
    quint64 records;
    quint64 bytes;
};

// Reads count records into a set through one reused record, as the wire
// format expects (a record led by 0 repeats the previous one). Each record
// read is charged to the budget, a repeated one too: it is dropped as a
// duplicate, but comparing its name costs as much as its footprint.
bool ReadRecords(InputStream& in, quint32 count, FileInfoSet& files, Budget& budget)
{
    FileInfo record;
    for (quint32 i = 0; i < count; ++i) {
        if (budget.records == 0 || !record.Read(in))
            return false;
        --budget.records;
        const quint64 footprint = record.Footprint();
        if (footprint > budget.bytes)
            return false;
        budget.bytes -= footprint;
        files.insert(record);
    }
    return true;
}

} // namespace

bool SharedFolderInfo::Read(InputStream& in)
{
    files.clear();
    quint32 count;
    if (!in.ReadCount(count))
        return false;
    Budget budget { count, FileInfoMap::kMaxShareBytes };
    quint32 trailing;
    return ReadRecords(in, count, files, budget) && in.ReadUInt32(trailing);
}

bool SharedFolderInfo::Write(OutputStream& out) const
{
    if (!out.WriteUInt32(quint32(files.size())))
        return false;
    for (const FileInfo& file : files) {
        if (!file.Write(out))
            return false;
    }
    return out.WriteUInt32(0);
}

bool FileInfoMap::Read(InputStream& in, quint64 maxRecords, quint64 maxBytes)
{
    clear();
    quint32 folders;
    if (!in.ReadCount(folders))
        return false;
    Budget budget { maxRecords, maxBytes };
    for (quint32 f = 0; f < folders; ++f) {
        std::string key;
        quint32 count;
        if (!in.ReadString(key) || !in.ReadCount(count))
            return false;
        // The folder's entry in the map: its key and an empty set.
        const quint64 folder = sizeof(value_type) + key.size();
        if (folder > budget.bytes)
            return false;
        budget.bytes -= folder;
        FileInfoSet files;
        if (!ReadRecords(in, count, files, budget))
            return false;
        (*this)[key] = std::move(files);
    }
    return true;
}

bool FileInfoMap::Write(OutputStream& out) const
{
    if (!out.WriteUInt32(quint32(size())))
        return false;
    for (const auto& [key, files] : *this) {
        if (!out.WriteString(key) || !out.WriteUInt32(quint32(files.size())))
            return false;
        for (const FileInfo& file : files) {
            if (!file.Write(out))
                return false;
        }
    }
    return true;
}

bool AttributeTranslationTable::Read(InputStream& in)
{
    clear();
    quint32 count;
    if (!in.ReadCount(count))
        return false;
    for (quint32 i = 0; i < count; ++i) {
        quint32 key;
        std::string name;
        if (!in.ReadUInt32(key) || !in.ReadString(name))
            return false;
        (*this)[key] = std::move(name);
    }
    return true;
}

bool AttributeTranslationTable::Write(OutputStream& out) const
{
    if (!out.WriteUInt32(quint32(size())))
        return false;
    for (const auto& [key, name] : *this) {
        if (!out.WriteUInt32(key) || !out.WriteString(name))
            return false;
    }
    return true;
}
