// link: guitest
// Floods from outside on the real window (offscreen, logged in to the
// stand-in server), each fed through the code that handles it when it comes
// from the server or a peer. One figure per row:
//   floods.<row>_longest_stall: the longest time the event loop stood still
//     (a 1 ms heartbeat) from the row's input until the window showed it.
// The rows (goal: 100 ms at most each):
//   search_reply_131k  one search reply of 131,072 results (folders of 12)
//   search_200_peers   200 replies of 1,000 results from 200 peers, in one turn
//   search_tab_close   closing the tab of those 200,000 results
//   search_long_names  100 results with 60,000-character names in 5,000-level
//                      folders, then five Page Downs in the tab
//   share_deep_10k     a share list of a 10,000-level folder chain (a file in
//                      each), shown in its Browse tab
//   share_refused      a share list that inflates past the 128 MiB cap: its
//                      Browse tab says it was refused
// Usage: bench_floods [row ...]   (default: every row)
#include "floods/FloodRun.h"
#include "floods/SearchFloods.h"

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    gui::PrepareApplication();
    FloodRun run(argc, argv);
    if (!run.Start())
        return 1;
    AddSearchFloodsRows(run);
    return run.Exec();
}
