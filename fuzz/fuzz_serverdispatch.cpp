// link: server
// Bytes from the central server through the client's framing and dispatch,
// with no connection open. The first byte picks the form of the rest: odd, the
// rest is one frame's code and fields (the length is put in front here), so the
// fuzzer reaches the message handlers quickly; even, the rest is the raw
// stream as it would arrive on the socket, lengths and all.
#include "HeapBudget.h"
#include "server/Server.h"
#include "store/Data.h"
#include "store/Settings.h"
#include <QCoreApplication>
#include <QtEndian>
#include <cstdint>

namespace {

Server* Setup()
{
    static int argc = 1;
    static char name[] = "fuzz_serverdispatch";
    static char* argv[] = { name, nullptr };
    static QCoreApplication app(argc, argv);
    Settings::CreateTypes();
    static Server server;
    server.CreateData();
    return &server;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static Server* server = Setup();
    if (size == 0)
        return 0;
    // The frames' fields and the items made from them: every name, number
    // and list in a frame is bytes of the frame, a few dozen bytes of store
    // for each.
    fuzz::HeapBudget budget(64 * size + (4 << 20), "fuzz_serverdispatch");
    const QByteArray rest(reinterpret_cast<const char*>(data + 1), qsizetype(size - 1));
    if (data[0] & 1) {
        char length[4];
        qToLittleEndian(quint32(rest.size()), length);
        server->ProcessIncoming(QByteArray(length, 4) + rest);
    } else {
        server->ProcessIncoming(rest);
    }
    // What a long input leaves for later turns is handled too.
    server->FinishIncoming();
    // Forget this input's state: partial frames and every item it made.
    server->Disconnect();
    d.Clear();
    return 0;
}
