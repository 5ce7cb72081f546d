#include "model/state.h"

namespace zelo {

MainState Main;

void ResetMainState()
{
    // A fresh value: texts empty, counters 0, both directory panes unbound with no entries.
    Main = MainState {};
}

} // namespace zelo
