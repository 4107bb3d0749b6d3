// The second line of the progress window: where a job is, as box, folder and
// document, kept near 30 characters.
#pragma once

#include <QString>

namespace vtutil {

// "box folder\document", with the folder, then the document, then the box
// cut (ending in "...") until the line is near 30 characters. Lengths count
// characters, not bytes, so that a cut never splits a character.
QString BuildStatusLine(QString box, QString folder, QString document);

}  // namespace vtutil
