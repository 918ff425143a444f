// A label that starts the user's mail program on a support address when clicked.
#pragma once

#include "decor/VelmarLinkLabel.h"

namespace velmar {

// A link label (see TVelmarLinkLabel) on a "mailto:" address, which the
// desktop's mail handler opens on its own terms.
class TVelmarMailLabel : public TVelmarLinkLabel {
    Q_OBJECT
public:
    // The support address (without "mailto:") as caption, at least 69 pixels wide.
    explicit TVelmarMailLabel(QWidget* AParent = nullptr);

    static const char* const DefaultAddress;
};

} // namespace velmar
