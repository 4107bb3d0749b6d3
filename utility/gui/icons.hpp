// The utility's icons and pictures: the desktop theme's where one fits, our
// own drawings (utility/resources/icons) otherwise.
#pragma once

#include <QIcon>

namespace vtutil::icons {

QIcon Application();          // the program
QIcon Connected();            // status bar: session open
QIcon Disconnected();         // status bar: no session
QIcon Box(bool isProtected);  // box lists
QIcon Device();               // device choice list
QIcon Folder();               // a box's folder, in the chooser of documents
QIcon Document();             // a document, in the chooser of documents
QString AboutPicturePath();   // about box picture (SVG)

}  // namespace vtutil::icons
