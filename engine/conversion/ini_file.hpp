// Settings files of sections, keys and comments, read by our own rules:
//
//   - lines end in a line feed; a carriage return before it is dropped and
//     empty lines are skipped;
//   - a line whose first character is not printable ends the reading: the
//     load prints "Failing on char <code>" on standard output and fails;
//   - the first of ";", "#", "[", "=" on a line says what it is: ";" or "#"
//     a comment, "[" a section named by the text up to the line's last "]"
//     (none: the line is ignored), "=" a key with the text before it as its
//     name and the text after it as its value, both exactly as they stand
//     (blanks are part of them); a line with none of them is ignored;
//   - section and key names are compared without regard to case;
//   - the load succeeds only when the file holds at least one section.
//
// The rules are stricter and blunter than those of common ini readers on
// purpose (a tab at a line's start fails the whole file; "Key = 1" names the
// key "Key "), so that a settings file means one thing only.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace vtbox {

class IniFile {
public:
    struct Section {
        std::string name;
        std::vector<std::pair<std::string, std::string>> keys;  // in file order
        std::vector<std::string> comments;                      // whole lines, ";" or "#" first
    };

    explicit IniFile(std::string path) : path_(std::move(path)) {}

    // Reads the file. False when it cannot be opened, is larger than
    // kMaxBytes, has a line starting with an unprintable character, or holds
    // no section.
    bool Load();

    // Parses text as the file's content would be (load uses it).
    bool Parse(const std::string &text);

    // The value of key in section, or def when either is missing. Sections
    // of the same name count as one, in file order; within them the first
    // key of the name counts.
    std::string GetValue(const std::string &section, const std::string &key, const std::string &def) const;
    // The value read as a decimal integer: leading blanks and a sign are
    // allowed, reading stops at the first other character, no digits give 0.
    // def is looked up as its decimal text.
    int GetInteger(const std::string &section, const std::string &key, int def) const;
    bool GetBoolean(const std::string &section, const std::string &key, bool def) const;

    const std::string &path() const { return path_; }
    const std::vector<Section> &sections() const { return sections_; }
    // Comments that stand before the first section.
    const std::vector<std::string> &leadingComments() const { return leading_; }

    // A settings file is a few lines; anything this large is no settings file.
    static constexpr size_t kMaxBytes = 1 << 20;

    // The integer reading of getInteger, for any text.
    static int ParseInteger(const std::string &text);

private:
    std::string path_;
    std::vector<Section> sections_;
    std::vector<std::string> leading_;
};

}  // namespace vtbox
