// The faces the windows ask for by name, and their Linux stand-ins.
#pragma once

#include <QFont>

namespace zelo {

inline constexpr const char* kAppTitle = "Zelo";
inline constexpr const char* kGothicFace = "ＭＳ Ｐゴシック";
inline constexpr const char* kMinchoFace = "ＭＳ 明朝";

// Maps the two faces onto the installed IPA fonts (gothic: IPAPGothic, IPAGothic; mincho: IPAMincho,
// IPAPMincho). Safe to call more than once.
void InstallFontSubstitutions();

QFont GothicFont(int pixelSize);
QFont MinchoFont(int pixelSize);

} // namespace zelo
