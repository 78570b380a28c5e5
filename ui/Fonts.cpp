#include "ui/Fonts.h"

namespace fonts {

namespace {

QFont Face(const char* family, QFont::StyleHint hint, int pixels)
{
    QFont font(QString::fromLatin1(family));
    font.setStyleHint(hint);
    font.setPixelSize(pixels);
    return font;
}

}  // namespace

QFont Sans()
{
    return Face(kSansFamily, QFont::SansSerif, kSansPixels);
}

QFont TitleSerif()
{
    return Face(kSerifFamily, QFont::Serif, kTitlePixels);
}

}  // namespace fonts
