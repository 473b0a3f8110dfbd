// link: guitest
// Floods from outside on the real window (offscreen, logged in to the
// stand-in server), each fed through the code that handles it when it comes
// from the server or a peer. One figure per row:
//   floods.<row>_longest_stall: the longest time the event loop stood still
//     (a 1 ms heartbeat) from the row's input until the window showed it.
// The rows (goal: 100 ms at most each):
// Usage: bench_floods [row ...]   (default: every row)
#include "floods/FloodRun.h"

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    gui::PrepareApplication();
    FloodRun run(argc, argv);
    if (!run.Start())
        return 1;
    return run.Exec();
}
