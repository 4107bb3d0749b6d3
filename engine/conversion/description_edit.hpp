// Line-wise edits of the description files (Backup.XML, Archive.XML), which
// are written one element per line.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace vtbox {

// Gives the element name the value in file: the first line that holds the
// element's opening tag gets the new value between its tags (with markup
// characters escaped); a line that holds no closing tag after it is replaced
// whole by "<name>value</name>". Every other line is copied as it is. Lines
// are written with line feeds (a carriage return before one is dropped), and
// the file's last line gets one too. The edit is written to a temporary file
// in tempFolder, which then takes the file's place. Returns 0, or -1 with
// the last error set when a file cannot be opened or written.
int ReplaceXmlElementLine(const std::string &file, const std::string &tempFolder, const std::string &name,
                          const std::string &value);

// The same for several elements in one pass, in order: each pair is looked
// for from the line after the one that the pair before it changed, so that
// repeated elements ("NumOfDocs" of each box) take their values in turn.
// Pairs without a matching line change nothing.
int ReplaceXmlElementsInOrder(const std::string &file, const std::string &tempFolder,
                              const std::vector<std::pair<std::string, std::string>> &elements);

}  // namespace vtbox
