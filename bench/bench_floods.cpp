// link: guitest
// Floods from outside on the real window (offscreen, logged in to the
// stand-in server), each fed through the code that handles it when it comes
// from the server or a peer. One figure per row:
//   floods.<row>_longest_stall: the longest time the event loop stood still
//     (a 1 ms heartbeat) from the row's input until the window showed it.
// The rows (goal: 100 ms at most each):
//   room_burst_10k: 5,000 users joining a room the window is in and leaving
//     again, 10,000 server messages arriving at once;
//   room_burst_200k: the same with 100,000 users, 200,000 messages;
//   room_list_100k: a room list of 100,000 rooms, 100 of them owned, 1,000
//     private rooms the user is a member of, 100 of them operated;
//   room_list_long_names: a room list of 2,000 rooms with 1,900-byte names;
//   private_room_20k_users: the answer to joining a private room of 20,000
//     users, 2,000 of them operators;
//   room_name_marks: a room named one letter and 65,000 combining marks,
//     listed, entered and then taken away with text typed in it;
// Usage: bench_floods [row ...]   (default: every row)
#include "floods/FloodRun.h"
#include "floods/Rooms.h"

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    gui::PrepareApplication();
    FloodRun run(argc, argv);
    if (!run.Start())
        return 1;
    AddRoomsRows(run);
    return run.Exec();
}
