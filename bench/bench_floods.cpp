// link: guitest
// Floods from outside on the real window (offscreen, logged in to the
// stand-in server): what comes from peers comes from peers on real loopback
// connections, what comes from the server is fed to the server connection as
// if it came from its socket. For each row (floods/FloodRun.h):
//   floods.<row>_longest_stall: the longest time the event loop stood still
//     (a 1 ms heartbeat) from the row's input until the window showed it;
// and for the rows of peers' replies, of walls and of administrators'
// messages, <row>_peak_memory and <row>_memory_after: the memory in use
// above where it stood before the row (MiB), at its peak and a second after
// the peers are gone.
// The rows (goal: a stall of 50 ms at most each, and memory back within 50 MB
// of the start once the peers are gone, beyond what the row leaves shown):
//   picture_bomb_png: a user-information reply, to the tab just opened, whose
//     picture is a 4.7 MB PNG claiming 40,000 x 40,000 black pixels.
//   picture_bomb_jpeg: the same with a JPEG of a few hundred bytes claiming
//     40,000 x 40,000 pixels.
//   unsolicited_info_100: the reply asked for, then 100 more nobody asked
//     for, one an event-loop turn, each with a 73 KB PNG of 5,000 x 5,000.
//   strangers_1000: the Chat page shown, 1,000 strangers' first private
//     messages, one every 20 ms, each opening a tab of its own while the
//     page has room for one (ChatsForm::kMaxTabs), the others waiting;
//     shown when the last one's words are in its tab or wait.
//   strangers_1000_tab_switch (not a stall): the longest of five tab switches
//     among those tabs, from the switch until the window is repainted.
//   user_status_3000: the User List shown with 3,000 offline users on it;
//     the server says they all came online, then (a second later) all went
//     offline, 250 status messages a turn, in a scrambled order; shown when
//     the list has every user offline again.
//   search_reply_131k  one search reply of 131,072 results (folders of 12):
//                      the tab keeps what a search keeps, the rest left out
//   search_200_peers   200 replies of 1,000 results from 200 peers, at once,
//                      to as many searches as keep them all
//   search_tab_close   closing the tabs of those 200,000 results at once
//   search_long_names  100 results with 60,000-character names in 5,000-level
//                      folders, then five Page Downs in the tab
//   repeated_record_reply  a search reply of one record with a 128 KiB name
//                      and 131,071 records repeating it (some 300 bytes, 16 GiB
//                      once read), refused; also
//                      floods.repeated_record_reply_peak_memory: the most
//                      memory the window held meanwhile beyond what it held
//                      before, in MiB
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
//   admin_messages_5000: 5,000 messages of the administrators at once;
//   door_5000: 5,000 peers connecting to the window's port over loopback,
//     4,000 of them introducing themselves and staying, 1,000 silent; shown
//     when one more peer's request for the user's information is answered;
//   connect_requests_20000: the server asking 20,000 times (2,000 users) to
//     connect to a loopback port that never answers;
//   door_5000_peak_memory, door_5000_memory_after, connect_requests_20000_peak_memory,
//     connect_requests_20000_memory_after (not stalls): the resident memory above
//     the row's start at its peak, and once the peers are gone.
//   search_reply_stream, search_reply_stream_50: one peer, then fifty,
//     stream replies of ten results to the user's open search for 20 s;
//     shown when the tab holds what a search keeps and says how many were
//     left out (also <row>_left_out and the memory figures);
//   peer_message_flood: one peer sends 1,000,000 queue requests over its
//     connection (and reads the answers); shown when all are handled;
//   parent_search_flood: the parent in the distributed tree passes down
//     100,000 searches at once, each of another user, for an album of a
//     shared folder of 20,000 files, while 25 children read none of what
//     they are sent; shown when all came in and the answers went quiet.
//     Also prints how many children were dropped;
//   peer_not_reading: one peer asks 3,000 times for the share list of those
//     20,000 files and reads nothing; shown when all asks are handled and
//     the list has begun to arrive.
//   parent_search_whole_share: the parent passes down 100 searches a second
//     for two seconds, each of another user and each matching every file of
//     a shared folder of 50,000 files; shown when every one has been
//     answered (or found to get no answer). Also prints how many were
//     answered;
//   upload_queue_1000_peers: the Uploads tab open, 1,000 peers from
//     addresses of their own each queue 100 uploads of shared files, 200
//     peers at a time; shown when every upload has its row. Then
//     upload_queue_1000_peers_start_next (not a stall, microseconds): the
//     peers online and one upload ending after another, the longest of 20
//     calls that start the next; and _start_next_apart: the same with each
//     call in a pass of its own (the queue's numbers go on in later passes);
//   many_peers_flood, total_unsent, reading_peer_folders: what many peers
//     cost together (floods/Totals.h says what each feeds);
//   peers_left_folders, folder_crowd: crowds asking for a big folder's
//     contents (floods/FolderCrowds.h).
//   The peer rows come through real loopback connections and also print
//   <row>_peak_memory and <row>_memory_after (MiB above where the row began:
//   its peak, and a second after its peers are gone).
// and, through a real socket from a server played by this program (the
// stand-in stopped; goal: 50 ms at most each):
//   server_close_behind_backlog: after the login, the answer to joining a
//     room of 20,000 users (many turns of work), the administrators' notice
//     and a close; shown when the notice is up and the loss counted after it;
//   server_flood: after the login, relayed searches for three seconds as fast
//     as the window takes them, then the notice; shown when it is up;
//   server_flood_peak_memory (not a stall, MiB): the most the process grew
//     from the start of that flood until the notice was shown;
//   private_messages_5000: the Rooms page shown, 5,000 users' first private
//     messages at once; shown when they are all handled and the Chat page,
//     the Rooms page and the Chat page again have been shown;
//   room_join_stream: a room joined with five users in it, then 10,000
//     users a second joining it for ten seconds; shown when the room's
//     list shows every member the room keeps;
//   unasked_stats: the statistics of 500,000 users nobody asked about;
//   and for each of these three, <row>_peak_memory and <row>_memory_after;
//   server_chat_alone, server_chat_among_peers: the server's part of the
//     passes, alone and under 300 streaming peers (floods/ServerShare.h);
//   half_minute_timers, five_minute_sweep: the half-minute timer's handlers
//     and the store's sweep, over what the rows before left, each timer fired
//     once (floods/Sweep.h).
// Usage: bench_floods [row ...]   (default: every row)
//        FLOODS_RESIDENT=1 bench_floods ...   (the memory kept resident, see main)
//        STALL_TRACE=20 bench_floods [row ...]   (and where each stall of 20 ms
//        or more came from, on stderr)
#include "floods/AdminMessages.h"
#include "floods/Crowds.h"
#include "floods/Door.h"
#include "floods/FloodRun.h"
#include "floods/FolderCrowds.h"
#include "floods/PeerFloods.h"
#include "floods/Rooms.h"
#include "floods/SearchFloods.h"
#include "floods/SearchReplyFloods.h"
#include "floods/ServerCrowds.h"
#include "floods/ServerFloods.h"
#include "floods/ServerShare.h"
#include "floods/ShareCrowds.h"
#include "floods/Sweep.h"
#include "floods/Tickers.h"
#include "floods/Totals.h"
#include "floods/UserInfo.h"
#include <cstdio>
#include <sys/mman.h>

int main(int argc, char** argv)
{
    // With FLOODS_RESIDENT=1 every page of the process stays in memory, as on
    // a desktop: a virtual machine whose host takes back what was not touched
    // for a few seconds makes each walk over older memory fault it back.
    // Pages are locked as they are first touched, not made ahead.
    if (qEnvironmentVariableIntValue("FLOODS_RESIDENT") == 1
        && mlockall(MCL_CURRENT | MCL_FUTURE | MCL_ONFAULT) != 0)
        std::perror("bench_floods: mlockall");
    TracingApplication app(argc, argv);
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
    AddDoorRows(run);
    AddPeerFloodsRows(run);
    AddSearchReplyFloodsRows(run);
    AddShareCrowdsRows(run);
    AddTotalsRows(run);
    AddFolderCrowdsRows(run);
    // Last: these stop the stand-in.
    AddServerFloodsRows(run);
    AddServerCrowdsRows(run);
    AddServerShareRows(run);
    AddSweepRow(run);
    return run.Exec();
}
