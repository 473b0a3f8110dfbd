// link: guitest
// Floods from outside on the real window (offscreen, logged in to the
// stand-in server), each fed through the code that handles it when it comes
// from the server or a peer. One figure per row:
//   floods.<row>_longest_stall: the longest time the event loop stood still
//     (a 1 ms heartbeat) from the row's input until the window showed it.
// The rows (goal: 100 ms at most each):
//   picture_bomb_png: a user-information reply, to the tab just opened, whose
//     picture is a 4.7 MB PNG claiming 40,000 x 40,000 black pixels.
//   picture_bomb_jpeg: the same with a JPEG of a few hundred bytes claiming
//     40,000 x 40,000 pixels.
//   unsolicited_info_100: the reply asked for, then 100 more nobody asked
//     for, one an event-loop turn, each with a 73 KB PNG of 5,000 x 5,000.
// Usage: bench_floods [row ...]   (default: every row)
#include "floods/FloodRun.h"
#include "floods/UserInfo.h"

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    gui::PrepareApplication();
    FloodRun run(argc, argv);
    if (!run.Start())
        return 1;
    AddUserInfoRows(run);
    return run.Exec();
}
