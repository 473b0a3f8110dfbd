#pragma once

class InputStream;
class OutputStream;

// A record that reads and writes itself on the byte streams. Both operations
// return false as soon as one stream operation fails; a failed Read leaves the
// record partly filled, and the caller discards it.
class Persistent {
public:
    virtual ~Persistent();
    virtual bool Read(InputStream& stream) = 0;
    virtual bool Write(OutputStream& stream) const = 0;
};
