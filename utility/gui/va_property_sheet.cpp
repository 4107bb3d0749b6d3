#include "va_property_sheet.hpp"

namespace vtutil {

CVAPropertySheet::CVAPropertySheet(QWidget *parent) : QTabWidget(parent) {
    setObjectName(QStringLiteral("sheet"));
    setDocumentMode(false);
    setUsesScrollButtons(false);
    // The tab key moves from the tabs into the page and on.
    setFocusPolicy(Qt::TabFocus);
}

}  // namespace vtutil
