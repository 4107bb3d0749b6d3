// Marks on widgets that show data (device names, addresses, box names)
// rather than a text of the language library.
#pragma once

#include <QWidget>

namespace vtutil {

inline constexpr const char *kShowsDataProperty = "vtutilShowsData";

inline void MarkShowsData(QWidget *widget) { widget->setProperty(kShowsDataProperty, true); }
inline bool ShowsData(const QWidget *widget) { return widget->property(kShowsDataProperty).toBool(); }

// Puts a top-level window in the middle of the screen it is on.
void CentreOnScreen(QWidget *window);

}  // namespace vtutil
