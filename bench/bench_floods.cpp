// link: guitest
// Floods from outside on the real window (offscreen, logged in to the
// stand-in server): what comes from peers comes from peers on real loopback
// connections, what comes from the server is fed to the server connection as
// if it came from its socket. Three figures per row (floods/FloodRun.h):
//   floods.<row>_longest_stall: the longest time the event loop stood still
//     (a 1 ms heartbeat) from the row's input until the window showed it;
//   floods.<row>_peak_rss, floods.<row>_rss_left: the memory in use above
//     where it stood before the row, at its peak and once the peers are gone.
// The rows (goal: a stall of 50 ms at most each, and memory back within 50 MB
// of the start once the peers are gone, beyond what the row leaves shown):
//   picture_bomb_png: a user-information reply, to the tab just opened, whose
//     picture is a 4.7 MB PNG claiming 40,000 x 40,000 black pixels.
//   picture_bomb_jpeg: the same with a JPEG of a few hundred bytes claiming
//     40,000 x 40,000 pixels.
//   unsolicited_info_100: the reply asked for, then 100 more nobody asked
//     for, one an event-loop turn, each with a 73 KB PNG of 5,000 x 5,000.
//   strangers_1000: the Chat page shown, 1,000 strangers' first private
//     messages, one every 20 ms, each opening a tab of its own; shown when
//     the last one's words are in its tab.
//   strangers_1000_tab_switch (not a stall): the longest of five tab switches
//     among those 1,000 tabs, from the switch until the window is repainted.
//   user_status_3000: the User List shown with 3,000 offline users on it;
//     the server says they all came online, then (a second later) all went
//     offline, 250 status messages a turn, in a scrambled order; shown when
//     the list has every user offline again.
//   search_reply_131k  one search reply of 131,072 results (folders of 12)
//   search_200_peers   200 replies of 1,000 results from 200 peers, at once
//   search_tab_close   closing the tab of those 200,000 results
//   search_long_names  100 results with 60,000-character names in 5,000-level
//                      folders, then five Page Downs in the tab
//   share_deep_10k     a share list of a 10,000-level folder chain (a file in
//                      each), shown in its Browse tab
//   share_refused      a share list that inflates past the 128 MiB cap: its
//                      Browse tab says it was refused
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
//   tickers_131k_wall_open: a room's wall open, the server's list of the
//     room's 131,072 tickers;
//   tickers_wall_reopened: that wall closed and opened again;
//   tickers_added_wall_open: 5,000 tickers added to them, one a message;
//   tickers_replaced_wall_open: a list of ten replacing those tickers, with
//     the wall open;
//   admin_messages_5000: 5,000 messages of the administrators at once.
// Usage: bench_floods [row ...]   (default: every row)
#include "floods/FloodRun.h"
#include "floods/AdminMessages.h"
#include "floods/Crowds.h"
#include "floods/Rooms.h"
#include "floods/SearchFloods.h"
#include "floods/Tickers.h"
#include "floods/UserInfo.h"

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    gui::PrepareApplication();
    FloodRun run(argc, argv);
    if (!run.Start())
        return 1;
    AddUserInfoRows(run);
    AddCrowdsRows(run);
    AddSearchFloodsRows(run);
    AddRoomsRows(run);
    AddTickersRows(run);
    AddAdminMessagesRow(run);
    return run.Exec();
}
