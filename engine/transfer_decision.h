// What a copy, move or backup does with one entry, decided from the two listings alone: the one decision
// the folder walk, the backup's plan and the file driver share, with no file system call.
#pragma once

#include "platform/drives.h"
#include "platform/types.h"

namespace zelo {

enum class TransferAction {
    CopyNew, // missing at the destination, or "new" off: copied without a date comparison
    Update, // the source is newer: copied
    UpToDate, // the same time, as finely as the destination keeps it: not copied
    NewerAtDestination, // the destination is newer: not copied, listed with the newer files
    KindMismatch, // a directory, link or special file under a file's name (or the other way): never
                  // copied over and never up to date
};

// source: a file, link or special file of the source; destination: what the destination lists under its
// name, or null.
TransferAction DecideTransfer(const FindData& source, const FindData* destination, bool newerOnly, WriteTimeStep step);

// Whether the action copies the entry.
inline bool Copies(TransferAction action)
{
    return action == TransferAction::CopyNew || action == TransferAction::Update;
}

// Whether a move may delete a source it did not copy (up to date): only when the destination has the same
// size and time; anything else may hold other bytes.
bool MoveMayDropUncopied(const FindData& source, const FindData& destination, WriteTimeStep step);

} // namespace zelo
