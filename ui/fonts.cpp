// The faces the windows ask for by name, and their Linux stand-ins.
#include "ui/fonts.h"

#include <QFontMetrics>
#include <QStringList>

namespace zelo {

void InstallFontSubstitutions()
{
    QFont::insertSubstitutions(
        QString::fromUtf8(kGothicFace), { QStringLiteral("IPAPGothic"), QStringLiteral("IPAGothic") });
    QFont::insertSubstitutions(
        QString::fromUtf8(kMinchoFace), { QStringLiteral("IPAMincho"), QStringLiteral("IPAPMincho") });
}

// A font "pixelSize high" as the window layout means it: the whole line (ascent and descent) fits
// in that height, so descenders and underscores are not cut off by items of the layout's height.
// The substituted faces have a larger line than their em, hence the smaller em size.
static QFont FaceFont(const char* face, int pixelSize)
{
    QFont font(QString::fromUtf8(face));
    for (int size = pixelSize; size > 6; --size) {
        font.setPixelSize(size);
        if (QFontMetrics(font).height() <= pixelSize) break;
    }
    return font;
}

QFont GothicFont(int pixelSize)
{
    return FaceFont(kGothicFace, pixelSize);
}

QFont MinchoFont(int pixelSize)
{
    return FaceFont(kMinchoFace, pixelSize);
}

} // namespace zelo
