// The second line of the progress window: where a job is, as box, folder and
// document, kept near 30 characters.
#pragma once

#include <QString>
#include <functional>

namespace vtutil {

// "box folder\document", with the folder, then the document, then the box
// cut (ending in "...") until the line is near 30 characters. Lengths count
// characters, not bytes, so that a cut never splits a character.
QString BuildStatusLine(QString box, QString folder, QString document);

// The same line cut only as far as it must be to fit (fits tells whether a
// line does, in the room a window has): the folder first, then the
// document, then the box, each to the longest start that fits followed by
// "...". A line that does not fit even then comes back with all three cut.
QString FitStatusLine(const QString &box, const QString &folder, const QString &document,
                      const std::function<bool(const QString &)> &fits);

}  // namespace vtutil
