// The decision of one entry of a copy, move or backup.
#include "engine/transfer_decision.h"

#include "engine/file_copy.h"
#include "engine/folder_transfer.h"

namespace zelo {

TransferAction DecideTransfer(const FindData& source, const FindData* destination, bool newerOnly, WriteTimeStep step)
{
    if (destination && KindOf(*destination) != KindOf(source)) return TransferAction::KindMismatch;
    if (!destination || !newerOnly) return TransferAction::CopyNew;
    const int order = CompareWriteTimes(source.lastWriteTime, destination->lastWriteTime, step);
    if (order > 0) return TransferAction::Update;
    return order == 0 ? TransferAction::UpToDate : TransferAction::NewerAtDestination;
}

bool MoveMayDropUncopied(const FindData& source, const FindData& destination, WriteTimeStep step)
{
    return KindOf(source) == KindOf(destination) && source.size() == destination.size()
        && CompareWriteTimes(source.lastWriteTime, destination.lastWriteTime, step) == 0;
}

} // namespace zelo
