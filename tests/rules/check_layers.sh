#!/usr/bin/env bash
# The layers as the build sees them: platform/ includes only platform/, model/ also nothing above it,
# engine/ nothing of ui/ nor the windows' shared state (model/state.h: the engine takes its state as
# arguments and hands back results), and none of the three includes Qt Widgets. Prints every include that breaks
# the rule and fails.
set -uo pipefail
root="$1"
status=0
check() {
    local layer="$1" forbidden="$2"
    local hits
    hits=$(grep -rnE "^#include [<\"]($forbidden)" "$root/$layer" --include='*.h' --include='*.cpp' || true)
    if [[ -n "$hits" ]]; then
        echo "$layer/ may not include $forbidden:"
        echo "$hits"
        status=1
    fi
}
check platform 'model/|engine/|ui/|app/|cli/|QtWidgets|QWidget'
check model 'engine/|ui/|app/|cli/|Qt|Q[A-Z]'
check engine 'ui/|app/|cli/|model/state\.h|Qt|Q[A-Z]'
exit $status
