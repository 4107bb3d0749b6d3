// Rescue copies: a device document that a replace-mode restore must delete
// before its replacement is on the device (the level holds the device's limit
// of documents, so both cannot be there at once) is first copied from the
// device into the job's work folder. The copy is removed once the
// replacement is complete, or once the document has been put back; it stays
// when neither worked, or when the job was killed in between, and then it is
// the only copy of that document.
//
// In the work folder (VTBOX_RESCUE_FOLDER of vtBoxBRD.h):
//   RESCUE/B0000bbb-F0000fff-D0000ddd/       one copy (fff 000: the box's top level)
//     D0000ddd.XML  D0000ddd/                the document's record and page files, as the device had them
//     NOTE.txt                               what the copy is and where it came from
// The copy's name gets "-2", "-3", ... when an older copy of the same name is
// there: a copy is never written over.
#pragma once

#include <cstdint>
#include <string>

namespace vtbox {

inline constexpr const char *kRescueNoteName = "NOTE.txt";

// Where one document came from, for its note and the messages about it.
struct RescuedDocument {
    std::string host;  // the device
    uint32_t box = 0;
    uint32_t folder = 0;  // 0: the box's top level
    uint32_t document = 0;
    std::string name;    // the document's display name (UTF-8)
    std::string remote;  // its entry on the device (page folder path)
};

class RescueCopy {
public:
    // Makes the copy's folder under workFolder and writes its note; the
    // record and pages are fetched into record() and pages() by the caller.
    // Raises with the system error when the folder or the note cannot be made.
    RescueCopy(const std::string &workFolder, const RescuedDocument &what);
    // Removes the copy unless Keep() was called.
    ~RescueCopy();
    RescueCopy(const RescueCopy &) = delete;
    RescueCopy &operator=(const RescueCopy &) = delete;

    const std::string &folder() const { return folder_; }
    // The local page folder and record file, named as on the device.
    std::string pages() const;
    std::string record() const;

    // The copy stays where it is (the document is in it alone).
    void Keep() { keep_ = true; }
    // Removes the copy now, and the rescue folder when nothing else is in it.
    void Drop() noexcept;

private:
    std::string rescue_;  // <work>/RESCUE
    std::string folder_;
    std::string item_;  // "D0000ddd"
    bool keep_ = false;
};

}  // namespace vtbox
