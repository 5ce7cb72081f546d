// The one place where the decisions of a copy, a move or a backup are carried out: the walk (or a plan
// accepted earlier) decides each entry, the receiver makes folders, copies links, makes ReadOnly
// destinations writable, hands copies to the copy threads, keeps earlier versions, deletes what a backup
// planned, notes what a move copied, and counts each step once it is done.
#pragma once

#include "engine/backup_plan.h"
#include "engine/copy_workers.h"
#include "engine/folder_transfer.h"
#include "engine/options.h"
#include "engine/tree.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace zelo {

struct ReceiverSetup {
    std::string sourceFolder; // drive paths of the two tops, with their separators
    std::string destinationBase;
    CommandOptions options; // clearReadOnly: ReadOnly entries a backup deletes go too
    // ReadOnly destinations are made writable before a copy replaces them (the folder drivers, with
    // "ReadOnly" ticked; the file driver leaves them, and such a copy fails).
    bool clearReadOnlyDestinations = false;
    bool flushEachFile = false; // each copy flushed before it takes its place (else the end syncs once)
    bool network = false; // either side answers each file after a round trip
    // Steps of a plan shown earlier: each entry is checked to be the one the plan saw before it is acted on.
    bool verify = false;
    Versions* versions = nullptr; // a backup that keeps what it deletes or replaces
    MovedEntries* moved = nullptr; // a move: what was copied, for the deletion of its source
    // Puts the run's progress on the window, given the bytes the copies under way have moved.
    std::function<void(uint64_t moved)> showProgress;
    // A copy or link in its place (its source as copied): false ends the run (the file driver deletes a
    // moved source there).
    std::function<bool(const FindData& source)> placed;
};

// The two folders a step lies in (shared with the copies that use them), and where they are below the tops.
struct ReceiverFolder {
    std::shared_ptr<DirHandle> source;
    std::shared_ptr<DirHandle> destination;
    const std::string& relative; // with its separator; "" for the tops
};

// What became of a step.
enum class Carried {
    Done, // done, or handed to the copy threads
    Left, // left as it is, told (changed since the plan, a name the destination refuses): the run goes on
    RunEnded, // a failure or the stop ended the run
};

class Receiver {
public:
    Receiver(ReceiverSetup setup, TransferCounts& counts, std::stop_token stop);
    ~Receiver();
    Receiver(const Receiver&) = delete;
    Receiver& operator=(const Receiver&) = delete;

    // Carries out one step. ended runs when the run ends at this step's copy (or the destination refused its
    // name), after its failure has been told.
    Carried Carry(const ReceiverFolder& at, const PlanStep& step, std::function<void()> ended = {});

    // A problem the counts do not show: told once every copy handed over before it is in its place (a copy
    // that fails first ends the run, and this is never told), and kept for the result.
    void Problem(const std::string& text);

    // Waits until every copy handed over is in its place; false when the run ended at one of them.
    bool Drain() { return m_workers.Drain(); }
    // Lets the window run, with the copies' progress.
    void Pump() { m_workers.Pump(); }
    bool Ended() const { return m_workers.Ended(); }
    bool StoppedByUser() const { return m_workers.StoppedByUser(); }
    // Steps carried to their end or left (the overall bar of a plan's run).
    int Finished() const { return m_finished; }
    // Waits for every copy and counts the names the destination refused; the run's status from status.
    int Finish(int status);

private:
    Carried Delete(const ReceiverFolder& at, const PlanStep& step);
    Carried CreateFolder(const ReceiverFolder& at, const PlanStep& step);
    Carried Copy(const ReceiverFolder& at, const PlanStep& step, std::function<void()> ended);
    Carried CopyLink(const ReceiverFolder& at, const PlanStep& step, const FindData& source,
        const FindData& destination, const std::string& destinationPath);
    // A copy or link in its place: counted, noted for a move; false ends the run.
    bool Placed(PlanAction action, const FindData& source);
    Carried Advance(Carried carried);

    ReceiverSetup m_setup;
    TransferCounts& m_counts;
    int m_finished = 0;
    // The folder whose deletions ended at a failure: the mirror step of that folder ends there.
    bool m_deletionsEnded = false;
    std::string m_deletionsEndedIn;
    CopyWorkers m_workers; // last: its copies go before the rest
};

} // namespace zelo
