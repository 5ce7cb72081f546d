// The in-place text conversions of the file pane's "オプション" submenu: CR removal, ESC sequence
// removal, backspaces, LF to CR LF, UTF-8 to Shift-JIS (CP932) and back. Each file is opened once (a
// link's target), read whole and converted; its unnamed replacement takes its place only when complete,
// and a file of several names (or in a folder that may not be written) is written back in place, with
// a durable copy of the original kept meanwhile and the stop signals held until it has ended.
#pragma once

#include "engine/options.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace zelo {

enum class ConversionMode : int {
    RemoveCr = 0, // N25 "０ＤＨ０ＡＨー>0ＡＨ"
    RemoveEscapes = 1, // N16 "ＥＳＣ 削除"
    ApplyBackspaces = 2, // N17 "ＢＳ　削除"
    LfToCrLf = 3, // N0AHDAH1 "0AH->0DH0AH"
    Utf8ToShiftJis = 4, // UTF8SJis1
    ShiftJisToUtf8 = 5, // SHIFT81
};
inline constexpr int kConversionModeCount = 6;

// The text the report appends to the number of converted files ("" for a mode above 5).
std::string ConversionReportText(int mode);

// The conversion of one file's bytes, for tests and tools: nullopt for malformed UTF-8 (mode 4) and
// for a mode outside 0 to 5.
// An empty result of modes 4 and 5 is a failure for the commands, not here.
std::optional<std::string> ConvertText(int mode, std::string bytes);

struct ConversionResult {
    int converted = 0; // files written back
    int skipped = 0; // files left as they were after a warning
    bool failed = false; // a failure was reported: no report, nothing converted after it
    bool tooBig = false; // a file of 4 GiB or more ended the command
    bool ok() const { return !failed && !tooBig && skipped == 0; }
};

// ConvertSelectedFiles' work over full drive paths, in order: the reports, warnings and errors
// as the command shows them. A mode outside 0 to 5 does nothing.
ConversionResult ConvertFiles(const std::vector<std::string>& paths, int mode);

// N25Click, N16Click, N17Click, N0AHDAH1Click, UTF8SJis1Click, SHIFT81Click: converts the selected
// items of the file pane (items[i] with selected[i] set) in dirWithSep.
ConversionResult ConvertSelectedFiles(const Selection& selection, int mode);

} // namespace zelo
