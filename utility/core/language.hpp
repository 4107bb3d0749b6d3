// The language library: every visible text of the utility, by numeric id.
//
// The library is loaded once at start and stays loaded for the run. Without
// it every text is empty, and the program still runs.
#pragma once

#include <QLibrary>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <set>

#include "brlang.h"

namespace vtutil {

class Language {
public:
    // The one language of the process.
    static Language &Instance();

    // Loads libbrlang.so from the program's folder, else from the installed
    // library folder. False when neither loads or exports the lookup.
    bool Load();
    // Loads the library at path instead (another language, tests).
    bool LoadFrom(const QString &path);
    void Unload();
    bool Loaded() const { return lookup_ != nullptr; }

    // The text of id, read through a 256-byte buffer (longer texts are
    // cut); empty when no library is loaded or the id has none.
    QString Text(uint32_t id) const;

    // Ids asked for while a library was loaded that had no text (so that a
    // test can prove that every id in use is in the table).
    const std::set<uint32_t> &MissingIds() const { return missing_; }
    void ClearMissingIds() { missing_.clear(); }

    // Where Load() looks, in order.
    static QStringList Candidates();

private:
    Language() = default;
    QLibrary library_;
    BRLOADSTRING lookup_ = nullptr;
    mutable std::set<uint32_t> missing_;
};

// Language::Instance().Text(id).
inline QString Text(uint32_t id) { return Language::Instance().Text(id); }

}  // namespace vtutil
