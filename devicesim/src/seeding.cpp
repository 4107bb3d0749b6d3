#include "devicesim/seeding.hpp"

#include <cstdint>
#include <fstream>
#include <optional>
#include <string_view>
#include <vector>

#include "devicesim/record_file.hpp"
#include "devicesim/text.hpp"
#include "store.hpp"

namespace devicesim {

namespace {

constexpr uint32_t kBaseTime = 1700000000;  // 2023-11-14, a fixed day so that seeding is repeatable
constexpr const char *kInnerFolder = "P0000001";

// splitmix64: small, fast and the same on every platform.
class Random {
public:
    explicit Random(uint64_t seed) : state_(seed) {}
    uint64_t Next() {
        uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }

private:
    uint64_t state_;
};

// Scan-like page data: runs of white (0xFF) and flat grey rows, which
// compress well, between rows of noise, which do not.
std::vector<uint8_t> PageData(size_t bytes, uint64_t seed) {
    Random rnd(seed);
    std::vector<uint8_t> out;
    out.reserve(bytes);
    for (char c : std::string_view("VTPAGE\x01")) out.push_back(static_cast<uint8_t>(c));
    while (out.size() < bytes) {
        const uint64_t pick = rnd.Next();
        const size_t row = 64 + static_cast<size_t>(pick % 192);
        const int kind = static_cast<int>((pick >> 16) % 10);
        for (size_t i = 0; i < row && out.size() < bytes; ++i) {
            if (kind < 5) {
                out.push_back(0xFF);
            } else if (kind < 7) {
                out.push_back(static_cast<uint8_t>(0x80 + (pick >> 24) % 16));
            } else {
                out.push_back(static_cast<uint8_t>(rnd.Next()));
            }
        }
    }
    out.resize(bytes);
    return out;
}

bool WriteEmpty(const fs::path &path) { return WriteFileBytes(path, {}); }

const uint8_t kSourceTypes[] = {1, 2, 3, 4, 8};
const uint8_t kColourModes[] = {1, 2, 3, 4, 8};

}  // namespace

namespace {

// A decimal number, or a hex one after "0x"; nullopt for anything else.
std::optional<uint64_t> ParseNumber(std::string_view text) {
    int base = 10;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        base = 16;
        text.remove_prefix(2);
    }
    if (text.empty() || text.size() > (base == 16 ? 8u : 9u)) return std::nullopt;
    uint64_t n = 0;
    for (char c : text) {
        int digit = -1;
        if (c >= '0' && c <= '9')
            digit = c - '0';
        else if (base == 16 && c >= 'a' && c <= 'f')
            digit = c - 'a' + 10;
        else if (base == 16 && c >= 'A' && c <= 'F')
            digit = c - 'A' + 10;
        if (digit < 0) return std::nullopt;
        n = n * static_cast<uint64_t>(base) + static_cast<uint64_t>(digit);
    }
    return n;
}

std::vector<std::string_view> Split(std::string_view text, char separator) {
    std::vector<std::string_view> parts;
    for (size_t pos = 0;;) {
        const size_t next = text.find(separator, pos);
        parts.push_back(text.substr(pos, next == std::string_view::npos ? std::string_view::npos : next - pos));
        if (next == std::string_view::npos) return parts;
        pos = next + 1;
    }
}

}  // namespace

std::optional<DocumentSelection> DocumentSelection::Parse(std::string_view text, uint32_t defaultValue,
                                                          uint32_t maxValue, std::string &error) {
    DocumentSelection selection;
    const auto fail = [&](std::string_view item, const char *why) {
        error = "bad document selection item '" + std::string(item) + "': " + why;
        return std::nullopt;
    };
    if (text == "none") return selection;
    for (std::string_view item : Split(text, ',')) {
        Item parsed;
        parsed.value = defaultValue;
        std::string_view where = item;
        if (const size_t eq = item.find('='); eq != std::string_view::npos) {
            where = item.substr(0, eq);
            const auto value = ParseNumber(item.substr(eq + 1));
            if (!value || *value > maxValue) return fail(item, "the value is not a number that fits the flag field");
            parsed.value = static_cast<uint32_t>(*value);
        }
        const Range any{0, UINT32_MAX};
        if (where == "all") {
            parsed.box = parsed.folder = parsed.doc = any;
        } else {
            const auto parts = Split(where, '.');
            if (parts.size() != 3) return fail(item, "not BOX.FOLDER.DOC");
            Range *ranges[] = {&parsed.box, &parsed.folder, &parsed.doc};
            for (size_t i = 0; i < 3; ++i) {
                if (parts[i] == "*") {
                    *ranges[i] = any;
                    continue;
                }
                const size_t dash = parts[i].find('-');
                const auto first = ParseNumber(parts[i].substr(0, dash));
                const auto last = dash == std::string_view::npos ? first : ParseNumber(parts[i].substr(dash + 1));
                if (!first || !last || *first > *last) return fail(item, "a part is not a number, a range A-B or *");
                *ranges[i] = Range{static_cast<unsigned>(*first), static_cast<unsigned>(*last)};
            }
        }
        selection.items_.push_back(parsed);
    }
    return selection;
}

std::optional<uint32_t> DocumentSelection::ValueFor(unsigned box, unsigned folder, unsigned doc) const {
    std::optional<uint32_t> value;
    for (const Item &item : items_)
        if (item.box.Holds(box) && item.folder.Holds(folder) && item.doc.Holds(doc)) value = item.value;
    return value;
}

std::string SeededBoxName(unsigned box) {
    // Non-ASCII text and the XML markup characters & < > " on purpose.
    return "Box " + std::to_string(box) +
           " Ablage \xC3\xBC"
           "ber & <Scans> \"Z\xC3\xBCrich\" \xE6\x9B\xB8\xE9\xA1\x9E";
}

std::string SeededFolderName(unsigned box, unsigned folder) {
    return "Mappe " + std::to_string(box) + "-" + std::to_string(folder) +
           " <\xC3\x84rger & \"Gl\xC3\xBC"
           "ck\">";
}

std::string SeededDocumentName(unsigned box, unsigned folder, unsigned doc) {
    return "Doc " + std::to_string(box) + "." + std::to_string(folder) + "." + std::to_string(doc) +
           " R&D <caf\xC3\xA9> \"\xE6\x96\x87\xE6\x9B\xB8\"";
}

namespace {

bool WriteDocument(const fs::path &level, unsigned box, unsigned folder, unsigned doc, const SeedOptions &o) {
    const std::string own = EntryName('D', doc);
    const fs::path pages = level / own;
    std::error_code ec;
    fs::create_directories(pages, ec);
    if (ec) return false;
    const uint64_t seed = (uint64_t{box} << 40) | (uint64_t{folder} << 20) | doc;
    Random rnd(seed);
    for (unsigned p = 1; p <= o.pages; ++p) {
        char name[32];
        std::snprintf(name, sizeof name, "PAGE%04u.DAT", p);
        if (!WriteFileBytes(pages / name, PageData(size_t{o.pageKb} * 1024, seed * 131 + p))) return false;
    }
    if (!WriteFileBytes(pages / "THUMB.BIN", PageData(512, seed * 7 + 1))) return false;
    if (!WriteEmpty(pages / "UNLOCK.STS")) return false;

    EntryRecord r;
    r.ownName = own;
    r.displayName = Utf8ToUtf16(SeededDocumentName(box, folder, doc));
    r.createTime = kBaseTime + box * 86400 + folder * 3600 + doc * 60;
    r.updateTime = r.createTime + 120;
    r.accessTime = r.updateTime + 30;
    const uint64_t pick = rnd.Next();
    r.docStatus = (doc % 4 == 3) ? 1 : 2;
    r.sourceType = kSourceTypes[pick % 5];
    r.colorMonoMix = kColourModes[(pick >> 8) % 5];
    r.scanDuplex = static_cast<uint8_t>(1 + (pick >> 16) % 3);
    r.mResolution = 600;
    r.sResolution = ((pick >> 20) % 2) ? 300 : 600;
    r.rotation = static_cast<uint8_t>((pick >> 24) % 4);
    // The flags: the options' selection, else seeding's own choice.
    const auto flag = [&](const std::optional<DocumentSelection> &selection, bool chosen, uint32_t value) {
        if (selection) return selection->ValueFor(box, folder, doc).value_or(0);
        return chosen ? value : 0;
    };
    r.colourFlags = static_cast<int16_t>(flag(o.colourDocs, r.colorMonoMix == 2 || r.colorMonoMix == 8, kColourFlag));
    r.paperFlags = flag(o.wideDocs, (pick >> 28) % 4 == 0, kWidePaperFlag);
    r.mixFlags = static_cast<uint8_t>(flag(o.mixDocs, (pick >> 32) % 5 == 0, kCopyMixFlag));
    r.sizeTermA = static_cast<int16_t>(o.pages);
    r.sizeTermB = o.pages * o.pageKb;
    r.thumbnail = "THUMB.BIN";
    return WriteFileBytes(level / (own + ".XML"), EncodeEntryRecord(r));
}

}  // namespace

bool SeedStore(const fs::path &root, const SeedOptions &o, std::string &error) {
    Store store(root);
    try {
        store.EnsureLayout();
    } catch (const std::exception &e) {
        error = std::string("cannot make the store layout: ") + e.what();
        return false;
    }
    if (!store.IsEmpty()) {
        error = "the store already holds boxes";
        return false;
    }
    if (o.boxes > 999 || o.folders > 100 || o.docs > 400) {
        error = "too many boxes (999), folders (100) or documents (400)";
        return false;
    }
    for (unsigned box = 1; box <= o.boxes; ++box) {
        BoxRecord br;
        br.ownName = EntryName('B', box);
        br.createTime = kBaseTime + box * 86400;
        br.updateTime = br.createTime + 600;
        br.protectedFlag = (box % 3 == 0) ? 1 : 0;
        br.preservationFlag = (box % 2 == 0) ? 1 : 0;
        br.preservationDays = 30 * box;
        br.name = Utf8ToUtf16(SeededBoxName(box));
        br.owner = Utf8ToUtf16("Owner " + std::to_string(box) + " J\xC3\xBCrgen & Co");
        br.warningNotice = Utf8ToUtf16("Notice <" + std::to_string(box) + "> \"keep\" & \xE2\x9C\x93");
        if (!WriteFileBytes(store.BoxRecordPath(box), EncodeBoxRecord(br))) {
            error = "cannot write the box record of box " + std::to_string(box);
            return false;
        }
        const fs::path boxDir = store.BoxDataPath(box);
        const fs::path inner = boxDir / kInnerFolder;
        std::error_code ec;
        fs::create_directories(inner, ec);
        if (ec || !WriteEmpty(boxDir / "UNLOCK.STS")) {
            error = "cannot make the folder of box " + std::to_string(box);
            return false;
        }
        for (unsigned d = 1; d <= o.docs; ++d) {
            if (!WriteDocument(inner, box, 0, d, o)) {
                error = "cannot write a document of box " + std::to_string(box);
                return false;
            }
        }
        for (unsigned f = 1; f <= o.folders; ++f) {
            const std::string own = EntryName('F', f);
            EntryRecord fr;
            fr.ownName = own;
            fr.displayName = Utf8ToUtf16(SeededFolderName(box, f));
            fr.createTime = kBaseTime + box * 86400 + f * 3600;
            fr.updateTime = fr.createTime + 60;
            fs::create_directories(inner / own, ec);
            if (ec || !WriteEmpty(inner / own / "UNLOCK.STS") ||
                !WriteFileBytes(inner / (own + ".XML"), EncodeEntryRecord(fr))) {
                error = "cannot write a folder of box " + std::to_string(box);
                return false;
            }
            for (unsigned d = 1; d <= o.docs; ++d) {
                if (!WriteDocument(inner / own, box, f, d, o)) {
                    error = "cannot write a document of box " + std::to_string(box);
                    return false;
                }
            }
        }
    }
    return true;
}

}  // namespace devicesim
