// A label that opens a web address in the user's browser when clicked.
#pragma once

#include "decor/VelmarLinkLabel.h"

namespace velmar {

// How the opened window is shown. Linux gives a program no say over how
// the browser's window appears, so the value is kept for the form's sake
// and does not change what Click does.
enum TModo { Ingrandita, Normale };

// A link label (see TVelmarLinkLabel) on the home page.
class TVelmarWebLabel : public TVelmarLinkLabel {
    Q_OBJECT
public:
    // Caption "Velmar Systems, Inc. - Home Page", at least 149 pixels wide.
    explicit TVelmarWebLabel(QWidget* AParent = nullptr);

    static const char* const DefaultAddress;

    TModo Modo() const { return FModo; }
    void SetModo(TModo AModo) { FModo = AModo; }

private:
    TModo FModo = Ingrandita;
};

} // namespace velmar
