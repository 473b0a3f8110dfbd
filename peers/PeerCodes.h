#pragma once
// Codes and limits of the peer protocol.
//
// Every connection starts with one init frame: u32 length, u8 code, fields.
// Messaging ("P") frames are u32 length, u32 code, fields; distributed ("D")
// frames are u32 length, u8 code, fields; file ("F") connections carry no
// frames after the init.
#include <QtGlobal>

enum PeerInitCode : quint8 {
    PI_PIERCE_FIREWALL = 0, // u32 token of a server-brokered request
    PI_PEER_INIT = 1, // str own user, str type, u32 token (0 when direct)
};

enum PeerMessageCode : quint32 {
    PM_GET_SHARED_FILE_LIST = 4, // nothing after the code
    PM_SHARED_FILE_LIST = 5, // one zlib stream: FileInfoMap, AttributeTranslationTable
    PM_FILE_SEARCH_RESULT = 9, // one zlib stream: the search-result body
    PM_USER_INFO_REQUEST = 15, // nothing after the code
    PM_USER_INFO_REPLY = 16, // str description, u8 picture, [str picture], u32 slots, u32 queued, u8 free
    PM_GET_SHARED_FILES_IN_FOLDER = 36, // u32 request, str folder
    PM_SHARED_FILES_IN_FOLDER = 37, // one zlib stream (received ones are not handled)
    PM_TRANSFER_REQUEST = 40, // u32 direction, u32 request, str file, [u64 size when direction is 1]
    PM_TRANSFER_RESPONSE = 41, // u32 request, u8 accepted, then [u64 size] or str reason
    PM_QUEUE_UPLOAD = 43, // str path
    PM_UPLOAD_PLACE_IN_LINE = 44, // str path, u32 place
    PM_UPLOAD_FAILED = 46, // str path
    PM_UPLOAD_DENIED = 50, // str path, str reason
    PM_UPLOAD_PLACE_IN_LINE_REQUEST = 51, // str path
    PM_UPLOAD_OFFER = 60, // str path, u64 size: the peer offers to push one of its files
};

enum DistributedCode : quint8 {
    DM_PING = 0,
    DM_SEARCH_REQUEST = 3, // u32 unknown (49), str user, u32 token, str query
    DM_BRANCH_LEVEL = 4, // i32 level
    DM_BRANCH_ROOT = 5, // str root user
    DM_CHILD_DEPTH = 7, // u32 depth
    DM_EMBEDDED = 93, // u8 code, then that message
};

// The value sent in the first field of a distributed search request.
constexpr quint32 kDistributedSearchUnknown = 49;

// Limits on what a peer may send. A frame whose length field is above its
// connection's limit closes the connection; nothing of it is buffered first.
constexpr quint32 kMaxInitFrame = 4096; // user name, type letter, token
constexpr quint32 kMaxMessageFrame = 32 * 1024 * 1024; // "P": share lists of large shares
constexpr quint32 kMaxDistributedFrame = 256 * 1024; // "D": searches and tree data
// A zlib payload may inflate to at most this many bytes (a share list also
// holds at most FileInfoMap::kMaxShareRecordsDefault records); beyond that it
// is dropped whole.
constexpr qsizetype kMaxInflatedSize = 128 * 1024 * 1024;
// A search reply may take at most this much memory once read (its records'
// footprints, a repeated record counted each time it is repeated); beyond that
// it is refused whole. A reply of 131,072 results with paths of 350 bytes
// fits.
constexpr quint64 kMaxSearchReplyBytes = 64 * 1024 * 1024;
// The largest picture accepted in a user-information reply.
constexpr quint32 kMaxPictureLength = 8 * 1024 * 1024;

// Bytes that may wait to be sent on one connection, besides one share list on
// its way. Past it a distributed connection is closed; a messaging one is
// closed when its peer also takes none of them (PeerConnection.h).
constexpr qint64 kMaxWaitingToSend = 16 * 1024 * 1024; // "P": replies, folder lists
constexpr qint64 kMaxWaitingToSendDistributed = 1024 * 1024; // "D": searches passed down
// While more than this waits to be sent on a connection (besides a share
// list), no more of its frames are read: its requests wait for their turn
// until the peer has taken its replies.
constexpr qint64 kMaxRepliesWaiting = 1024 * 1024;
// Replies built elsewhere for one connection (folder replies) that may be
// under way at once; while this many are, its frames wait in the same way.
constexpr int kMaxRepliesBuilding = 2;
// What the system holds for a messaging or distributed socket, beyond what
// waits in ours: a thousand peers that read nothing hold that much each, and
// what is written to them in one turn is bounded by it.
constexpr qint64 kSendBufferBytes = 128 * 1024;
// Answers of at most this many bytes to a peer that had nothing waiting go to
// the system at once, not a pass later.
constexpr qint64 kSentAtOnce = 64 * 1024;
// The most bytes a connection's socket holds read but not yet framed; what
// the socket of a file connection holds while it waits to be handed over;
// and the most read from a socket at once.
constexpr qint64 kReadBufferSize = 256 * 1024;
constexpr qint64 kRawReadBufferSize = 64 * 1024;
constexpr qint64 kReadChunk = 64 * 1024;

// Time limits, in seconds, checked on the 30-second timer.
constexpr qint64 kInitTimeout = 30; // an accepted socket that has not sent its init
constexpr qint64 kIdleTimeout = 120; // a messaging or distributed connection with no whole frame from the peer
// A frame that has begun must go on at this pace (PeerConnection::Overdue).
constexpr qint64 kFrameTimeout = 30;
constexpr qint64 kMinFrameRate = 4096; // bytes a second
constexpr qint64 kRequestTimeout = 60; // a connection attempt with no outcome
constexpr qint64 kUnsentLifetime = 300; // a message waiting for a connection
// Accepted sockets that have not sent their init yet; past this the oldest
// one (once it had kEvictGrace seconds of the client's reading, and its init
// is not waiting to be read) is closed for each new one, so a flood cannot
// starve real peers; younger ones make new peers wait briefly.
constexpr int kMaxPendingConnections = 128;
constexpr qint64 kEvictGrace = 2;
// Past its file limit the listener rests this long before it accepts again.
constexpr int kAcceptPauseMs = 1000;
// Outgoing sockets that are not up yet, at most; the attempts beyond wait
// their turn. Of those the server asks for (code 18), at most
// kMaxBrokeredPerUser for one user and kMaxWaitingConnects in all wait or
// connect; any more are refused (the server hears we cannot connect).
constexpr int kMaxConnecting = 32;
constexpr int kMaxBrokeredPerUser = 8;
constexpr int kMaxWaitingConnects = 256;
