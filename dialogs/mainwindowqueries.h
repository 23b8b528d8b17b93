#pragma once

class ListQuery;
namespace store {
class Query;
}

// What the lend dialog and the disk editor act on in the main window: its disk list,
// whose current disk they lend or edit and which they reopen after a change, and the
// command query every change runs on.
struct MainWindowQueries {
    ListQuery& disks;
    store::Query& command;
};
