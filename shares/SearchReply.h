#pragma once
// One search's reply as it is built a slice at a time (SearchReplyBuild.cpp):
// the files the search finds are taken from the index, those the user may
// see and whose names fit the query become records in path order, and the
// records are written into the message body. Only the first part reads the
// index: a change of its shape meanwhile (a file or folder gone) starts the
// search again, so no item is read once gone.
#include "SharedFoldersManager.h"
#include "store/SearchParser.h"
#include <map>
#include <string>
#include <vector>

struct SharedFoldersManager::SearchReply {
    QString user;
    quint32 ticket = 0;
    QString query;

    bool begun = false;
    quint64 shape = 0; // the index's shape when begun
    SearchParser parser;
    std::vector<Item*> candidates;
    size_t next = 0;
    ItemSet visible;
    // By path in unsigned byte order; never more than a receiver takes.
    std::map<std::string, FileInfo> records;
    bool writing = false;
    MemStream body;
    // Set once done: true when the search gets no reply, else body is whole.
    bool none = false;
};
