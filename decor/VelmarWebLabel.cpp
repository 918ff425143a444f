#include "decor/VelmarWebLabel.h"

namespace velmar {

const char* const TVelmarWebLabel::DefaultAddress = "https://www.velmarsystems.example/";

TVelmarWebLabel::TVelmarWebLabel(QWidget* AParent)
    : TVelmarLinkLabel(AParent, QString::fromLatin1(DefaultAddress),
                       QStringLiteral("Velmar Systems, Inc. - Home Page"), 149)
{
}

} // namespace velmar
