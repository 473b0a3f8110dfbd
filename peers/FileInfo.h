#pragma once
// The records in which files, folders and audio attributes travel between
// clients: share lists (peer message 5), folder replies (37) and search
// results (9). They live with the peer network because it decodes received
// share lists; the shared-folders library builds them from its index.
//
// Strings are 8-bit (written byte for byte, read up to the first NUL); every
// count read is at most 131072 (the stream rule). Records order by name as
// unsigned bytes, then by size; attributes take no part in order or equality.
//
// A record led by a 0 byte repeats the one before: one byte on the wire may
// stand for a name of 128 KiB. Readers of lists therefore bound what they
// build, not only what they read: each record counts its Footprint() every
// time it is read, repeated or not, against the list's byte budget.
#include "store/InputStream.h"
#include "store/OutputStream.h"
#include "store/Persistent.h"
#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

// Attribute codes of an AttributeMap.
enum AttributeCode : quint32 {
    ATTR_BITRATE = 0,
    ATTR_LENGTH = 1, // seconds
    ATTR_BITRATE_MODE = 2, // 1 variable, 0 constant
};

// The audio description of one file: "mp3" and its pairs, or empty.
class AttributeMap : public Persistent {
public:
    std::string extension;
    std::vector<std::pair<quint32, quint32>> attributes; // (code, value) in list order

    // Wire: str extension, u32 count, count x (u32 code, u32 value).
    bool Read(InputStream& in) override;
    bool Write(OutputStream& out) const override;
};

// One file of a share list, folder reply or search result.
class FileInfo : public Persistent {
public:
    std::string name;
    qint64 size = 0;
    AttributeMap attributes;

    // Wire: u8 1, str name, u64 size, AttributeMap. A leading 0 byte ends the
    // read at once, leaving the record as it was.
    bool Read(InputStream& in) override;
    bool Write(OutputStream& out) const override;

    // What the record takes in memory once read: itself, its name, its
    // extension and its attribute pairs.
    quint64 Footprint() const
    {
        return sizeof(FileInfo) + name.size() + attributes.extension.size()
            + attributes.attributes.size() * sizeof(attributes.attributes[0]);
    }

    bool operator<(const FileInfo& o) const { return name != o.name ? name < o.name : size < o.size; }
    bool operator==(const FileInfo& o) const { return name == o.name && size == o.size; }
};

using FileInfoSet = std::set<FileInfo>;

// The files of one folder. Wire: u32 count, the records, u32 0.
class SharedFolderInfo : public Persistent {
public:
    FileInfoSet files;

    // Fails past FileInfoMap::kMaxShareBytes of records read.
    bool Read(InputStream& in) override;
    bool Write(OutputStream& out) const override;
};

// Folder key ("\"-separated path) to its files, ordered by unsigned bytes.
// Wire: u32 folder count; per folder: str key, u32 file count, the records.
class FileInfoMap : public std::map<std::string, FileInfoSet>, public Persistent {
public:
    // Any failure fails the whole read; so does a total of more than
    // maxRecords file records, or of more than maxBytes of their footprints
    // (repeated records counted each time).
    bool Read(InputStream& in) override { return Read(in, kMaxShareRecordsDefault); }
    bool Read(InputStream& in, quint64 maxRecords, quint64 maxBytes = kMaxShareBytes);
    bool Write(OutputStream& out) const override;

    static constexpr quint64 kMaxShareRecordsDefault = 2000000;
    // Two million records with names of some 60 bytes fit, as do 128 MiB of
    // names (what the inflate cap lets in) in records of their own.
    static constexpr quint64 kMaxShareBytes = 512ull * 1024 * 1024;
};

// Attribute code to attribute name; this client always sends it empty.
// Wire: u32 count; per entry: u32 key, str name.
class AttributeTranslationTable : public std::map<quint32, std::string>, public Persistent {
public:
    bool Read(InputStream& in) override;
    bool Write(OutputStream& out) const override;
};
