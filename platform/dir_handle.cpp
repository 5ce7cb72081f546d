// What every directory handle shares.
#include "platform/dir_handle.h"

#include "platform/errors.h"

namespace zelo {

bool DirHandle::Unsupported()
{
    SetLastError(err::NotSupported);
    return false;
}

} // namespace zelo
