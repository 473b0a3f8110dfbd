#pragma once
// The bytes waiting to be sent to every peer together, as memory: each
// connection's own bytes, and each shared buffer once however many
// connections send it (a user-information picture written to a hundred
// peers is one buffer, shared by their sockets). The connections tell it
// what they write and what leaves; the messenger closes connections when the
// sum passes kMaxInAll (ConnectionRoom::Overflow says which).
#include <QtGlobal>
#include <functional>
#include <unordered_map>

class UnsentBytes {
public:
    // The bound on all bytes waiting to be sent to peers: a few hundred
    // replies of the largest picture, copied, or a thousand share lists.
    static constexpr qint64 kMaxInAll = 256 * 1024 * 1024;
    // A piece of a frame at least this long is written as it is, shared with
    // whoever holds it, and counted once here.
    static constexpr qint64 kSharedPieceBytes = 64 * 1024;

    // A connection (the writer) has more or fewer own bytes waiting.
    void AddOwn(qint64 bytes, const void* writer);
    // A connection began or ended sending a shared buffer (known by its
    // first byte's address).
    void Hold(const void* key, qint64 size, const void* writer);
    void Release(const void* key);
    // How many connections send it now.
    int Holders(const void* key) const;

    qint64 Total() const { return m_own + m_shared; }
    qint64 Bound() const { return m_bound; }
    void SetBound(qint64 bytes) { m_bound = bytes; }
    // Called (within the write) when a write takes the total past the
    // bound, with the connection written to.
    void OnOverBound(std::function<void(const void* writer)> over) { m_over = std::move(over); }

private:
    struct Shared {
        qint64 size = 0;
        int holders = 0;
    };
    void Check(const void* writer);

    qint64 m_own = 0;
    qint64 m_shared = 0;
    qint64 m_bound = kMaxInAll;
    std::unordered_map<const void*, Shared> m_buffers;
    std::function<void(const void*)> m_over;
    bool m_checking = false;
};
