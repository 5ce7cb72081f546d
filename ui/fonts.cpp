#include "ui/fonts.h"

#include <QStringList>

namespace zelo {

void InstallFontSubstitutions()
{
    QFont::insertSubstitutions(
        QString::fromUtf8(kGothicFace), { QStringLiteral("IPAPGothic"), QStringLiteral("IPAGothic") });
    QFont::insertSubstitutions(
        QString::fromUtf8(kMinchoFace), { QStringLiteral("IPAMincho"), QStringLiteral("IPAPMincho") });
}

static QFont FaceFont(const char* face, int pixelSize)
{
    QFont font(QString::fromUtf8(face));
    font.setPixelSize(pixelSize);
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
