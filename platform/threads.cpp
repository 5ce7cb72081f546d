#include "platform/threads.h"

#include <sys/resource.h>
#include <unistd.h>

namespace zelo {

void TakeLeastProcessorShare()
{
    // On Linux a nice value set for a thread's own id is that thread's alone. A refusal changes nothing
    // that matters: the work is only slower to be shown.
    ::setpriority(PRIO_PROCESS, static_cast<id_t>(::gettid()), 19);
}

} // namespace zelo
