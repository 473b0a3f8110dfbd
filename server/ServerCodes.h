#pragma once
// Message codes of the central server. Each frame is a 32-bit little-endian
// length (of what follows), the 32-bit code below, then the message's fields.
#include <QtGlobal>

enum ServerCode : quint32 {
    SM_LOGIN = 1,
    SM_SET_LISTENING_PORT = 2,
    SM_GET_PEER_ADDRESS = 3,
    SM_ADD_USER = 5,
    SM_REMOVE_USER = 6,
    SM_GET_USER_STATUS = 7,
    SM_SAY_CHATROOM = 13,
    SM_JOIN_ROOM = 14,
    SM_LEAVE_ROOM = 15,
    SM_USER_JOINED_ROOM = 16,
    SM_USER_LEFT_ROOM = 17,
    SM_CONNECT_TO_PEER = 18,
    SM_PRIVATE_MESSAGE = 22,
    SM_ACK_PRIVATE_MESSAGE = 23,
    SM_FILE_SEARCH = 26,
    SM_SET_STATUS = 28,
    SM_PING = 32,
    SM_SHARED_FOLDERS_FILES = 35,
    SM_GET_USER_STATS = 36,
    SM_RELOGGED = 41,
    SM_USER_SEARCH = 42,
    SM_ROOM_LIST = 64,
    SM_ADMIN_MESSAGE = 66,
    SM_PRIVILEGED_USERS = 69,
    SM_HAVE_NO_PARENT = 71,
    SM_CHECK_PRIVILEGES = 92,
    SM_EMBEDDED_MESSAGE = 93,
    SM_ACCEPT_CHILDREN = 100,
    SM_POSSIBLE_PARENTS = 102,
    SM_WISHLIST_SEARCH = 103,
    SM_WISHLIST_INTERVAL = 104,
    SM_ROOM_TICKERS = 113,
    SM_ROOM_TICKER_ADD = 114,
    SM_ROOM_TICKER_REMOVE = 115,
    SM_SET_ROOM_TICKER = 116,
    SM_ROOM_SEARCH = 120,
    SM_SEND_UPLOAD_SPEED = 121,
    SM_GIVE_PRIVILEGES = 123,
    SM_BRANCH_LEVEL = 126,
    SM_BRANCH_ROOT = 127,
    SM_CHILD_DEPTH = 129,
    SM_RESET_DISTRIBUTED = 130,
    SM_PRIVATE_ROOM_USERS = 133,
    SM_PRIVATE_ROOM_ADD_USER = 134,
    SM_PRIVATE_ROOM_REMOVE_USER = 135,
    SM_PRIVATE_ROOM_DISMEMBER = 136,
    SM_PRIVATE_ROOM_DISOWN = 137,
    SM_PRIVATE_ROOM_ADDED = 139,
    SM_PRIVATE_ROOM_REMOVED = 140,
    SM_PRIVATE_ROOM_TOGGLE = 141,
    SM_PRIVATE_ROOM_ADD_OPERATOR = 143,
    SM_PRIVATE_ROOM_REMOVE_OPERATOR = 144,
    SM_PRIVATE_ROOM_OPERATOR_ADDED = 145,
    SM_PRIVATE_ROOM_OPERATOR_REMOVED = 146,
    SM_PRIVATE_ROOM_OWNED = 148,
    SM_RELATED_SEARCHES = 153,
    SM_CANNOT_CONNECT = 1001,
    SM_CANNOT_CREATE_ROOM = 1003,
};

// The protocol version sent at login, and the number that follows the hash.
constexpr quint32 kServerProtocolVersion = 157;
constexpr quint32 kServerMinorVersion = 100;

// The largest frame accepted from the server (length field, in bytes). A
// longer one is taken for a broken connection.
constexpr quint32 kMaxServerFrame = 4 * 1024 * 1024;
