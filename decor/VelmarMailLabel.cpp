#include "decor/VelmarMailLabel.h"

namespace velmar {

const char* const TVelmarMailLabel::DefaultAddress = "mailto:supporto@velmarsystems.example";

TVelmarMailLabel::TVelmarMailLabel(QWidget* AParent)
    : TVelmarLinkLabel(AParent, QString::fromLatin1(DefaultAddress),
                       QString::fromLatin1(DefaultAddress).mid(int(qstrlen("mailto:"))), 69)
{
}

} // namespace velmar
