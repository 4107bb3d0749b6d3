#include "backup_listing.hpp"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <set>

#include "exit_codes.hpp"
#include "failure_report.hpp"
#include "text_output.hpp"
#include "vthandles.hpp"
#include "work_folder.hpp"

namespace vtcli {

namespace {

namespace fs = std::filesystem;

bool HasDate(const SYSTEMTIME &t) { return t.wYear != 0; }

std::string Kinds(const VTBACKUPENTRY &e) {
    std::string out;
    auto add = [&](uint32_t bit, const char *word) {
        if (e.Kinds & bit) out += (out.empty() ? "" : ",") + std::string(word);
    };
    add(VTCONVERT_COLOUR, "colour");
    add(VTCONVERT_WIDE_PAPER, "wide");
    add(VTCONVERT_COPY_MIX, "copy-mix");
    return out;
}

std::string Count(uint32_t n, const char *one, const char *many) {
    return std::to_string(n) + " " + (n == 1 ? one : many);
}

}  // namespace

namespace {

// Reads file's description into out. Prints what failed; returns the exit code.
int ReadDescription(const std::string &file, const std::vector<uint32_t> &boxes, const WorkFolder &work,
                    ListedFile *out) {
    VTBACKUPINFO info{};
    uint32_t count = 0;
    VTBOXBK *described = nullptr;
    void *handle = nullptr;
    uint32_t rc = vtBoxGetXMLInfo(file.c_str(), work.path().c_str(), &info, &count, &described, &handle);
    vt::GlobalBlock boxList(handle);
    if (rc != 0) return ReportFailure("reading " + file, rc, vtBoxGetLastErrorText(), FailureSite::BackupFile);
    if (info.Kind != 1) return ReportProblem(file + " is a document archive, not a backup file", kExitDamagedFile);
    for (uint32_t i = 0; i < count; ++i) {
        out->described[described[i].BoxNo] = described[i];
        out->order.push_back(described[i].BoxNo);
    }
    for (uint32_t box : boxes)
        if (!out->described.count(box)) {
            char n[8];
            std::snprintf(n, sizeof n, "%03u", box);
            return ReportProblem("box " + std::string(n) + " is not in " + file, kExitNotFound);
        }
    return kExitDone;
}

// What WalkListing hands the engine's callback: the caller's sink, and the
// names of the current box's folders, which come before their documents.
struct Walk {
    const EntrySink *each;
    std::map<uint32_t, std::string> folderNames;
};

uint32_t OnEntry(const VTBACKUPENTRY *e, void *context) {
    auto *walk = static_cast<Walk *>(context);
    if (e->Kind == VTENTRY_BOX) walk->folderNames.clear();
    if (e->Kind == VTENTRY_FOLDER) walk->folderNames[e->FolderNo] = e->Name;
    const char *folderName = nullptr;
    if (e->Kind == VTENTRY_DOCUMENT) {
        auto f = walk->folderNames.find(e->FolderNo);
        if (f != walk->folderNames.end()) folderName = f->second.c_str();
    }
    (*walk->each)(*e, BackupTree::NamePath(*e, folderName));
    return 0;
}

// Prints what is wrong with file when it is no file to read; returns the exit code.
int CheckFile(const std::string &file) {
    std::error_code ec;
    if (!fs::exists(file, ec)) return ReportProblem("the backup file " + file + " does not exist", kExitNotFound);
    if (!fs::is_regular_file(file, ec)) return ReportProblem(file + " is not a file", kExitNotFound);
    return kExitDone;
}

}  // namespace

int ReadDescribedBoxes(const std::string &file, const std::vector<uint32_t> &boxes, ListedFile *out) {
    if (int rc = CheckFile(file)) return rc;
    WorkFolder work = WorkFolderFor(file);
    if (!work.ok()) return ReportProblem(work.error(), kExitLocalDisk);
    return ReadDescription(file, boxes, work, out);
}

int WalkListing(const std::string &file, const std::vector<uint32_t> &boxes, ListedFile *out, const EntrySink &each) {
    if (int rc = CheckFile(file)) return rc;
    // A box's archive is taken out of the file for a moment: beside the
    // file, where there is room for it, as verify does.
    WorkFolder work = WorkFolderFor(file);
    if (!work.ok()) return ReportProblem(work.error(), kExitLocalDisk);
    if (int rc = ReadDescription(file, boxes, work, out)) return rc;
    Walk walk{&each, {}};
    if (vtBoxListBackupEach(file.c_str(), work.path().c_str(), static_cast<uint32_t>(boxes.size()), boxes.data(),
                            OnEntry, &walk) != 0)
        return ReportFailure("reading " + file, GetLastError(), vtBoxGetLastErrorText(), FailureSite::BackupFile);
    return kExitDone;
}

int ReadListing(const std::string &file, const std::vector<uint32_t> &boxes, ListedFile *out) {
    std::vector<VTBACKUPENTRY> entries;
    if (int rc =
            WalkListing(file, boxes, out, [&](const VTBACKUPENTRY &e, const std::string &) { entries.push_back(e); }))
        return rc;
    out->tree = BackupTree(std::move(entries));
    return kExitDone;
}

int ResolvePaths(const std::string &file, const std::vector<std::string> &paths, ListedFile *listing,
                 std::vector<const VTBACKUPENTRY *> *entries) {
    std::vector<uint32_t> boxes;
    std::string problem;
    if (!BoxesOfPaths(paths, &boxes, &problem)) return ReportProblem(problem, kExitUsage);
    if (int rc = ReadListing(file, boxes, listing)) return rc;
    entries->clear();
    for (const auto &path : paths) {
        bool ambiguous = false;
        const VTBACKUPENTRY *e = listing->tree.Resolve(path, &problem, &ambiguous);
        if (!e) return ReportProblem(problem, ambiguous ? kExitUsage : kExitNotFound);
        entries->push_back(e);
    }
    return kExitDone;
}

namespace {

// Resolves paths as ResolvePaths does, holding of the listing only what a
// path could name (see ResolveItems): copies of the entries, in the order of
// paths. A path that does not resolve there is resolved again in the whole
// listing, which says what is wrong as ResolvePaths says it.
int ResolveEntries(const std::string &file, const std::vector<std::string> &paths,
                   std::vector<VTBACKUPENTRY> *entries) {
    std::vector<uint32_t> boxes;
    std::string problem;
    if (!BoxesOfPaths(paths, &boxes, &problem)) return ReportProblem(problem, kExitUsage);
    std::set<std::string> parts;
    std::set<unsigned long> numbers;  // of parts that may be "D17": more than Resolve takes, never fewer
    for (const auto &path : paths)
        for (size_t at = 0; at <= path.size();) {
            const size_t slash = std::min(path.find('/', at), path.size());
            const std::string part = path.substr(at, slash - at);
            parts.insert(part);
            if (part.size() >= 2 && part.size() <= 9 && (part[0] == 'D' || part[0] == 'd') &&
                part.find_first_not_of("0123456789", 1) == std::string::npos)
                numbers.insert(std::strtoul(part.c_str() + 1, nullptr, 10));
            at = slash + 1;
        }
    ListedFile f;
    std::vector<VTBACKUPENTRY> kept;
    if (int rc = WalkListing(file, boxes, &f, [&](const VTBACKUPENTRY &e, const std::string &) {
            if (e.Kind != VTENTRY_DOCUMENT || numbers.count(e.DocNo) || parts.count(e.Name) ||
                parts.count(PlainText(e.Name)))
                kept.push_back(e);
        }))
        return rc;
    const BackupTree tree(std::move(kept));
    entries->clear();
    for (const auto &path : paths) {
        bool ambiguous = false;
        const VTBACKUPENTRY *e = tree.Resolve(path, &problem, &ambiguous);
        if (!e) {
            ListedFile whole;
            std::vector<const VTBACKUPENTRY *> resolved;
            if (int rc = ResolvePaths(file, paths, &whole, &resolved)) return rc;
            entries->clear();
            for (const auto *r : resolved) entries->push_back(*r);
            return kExitDone;
        }
        entries->push_back(*e);
    }
    return kExitDone;
}

}  // namespace

int ResolveItems(const std::string &file, const std::vector<std::string> &paths, std::vector<VTBACKUPITEM> *items) {
    std::vector<uint32_t> boxes;
    std::string problem;
    if (!BoxesOfPaths(paths, &boxes, &problem)) return ReportProblem(problem, kExitUsage);
    items->clear();
    // Whole boxes ("3", "3/") need the description alone.
    if (std::all_of(paths.begin(), paths.end(), [](const std::string &p) {
            const size_t slash = p.find('/');
            return slash == std::string::npos || slash + 1 == p.size();
        })) {
        ListedFile f;
        if (int rc = ReadDescribedBoxes(file, boxes, &f)) return rc;
        for (uint32_t box : boxes) items->push_back({box, 0, 0});
        return kExitDone;
    }
    std::vector<VTBACKUPENTRY> entries;
    if (int rc = ResolveEntries(file, paths, &entries)) return rc;
    for (const auto &e : entries) items->push_back(ItemOf(e));
    return kExitDone;
}

std::string SizeText(uint64_t bytes) {
    char buf[32];
    if (bytes < (10u << 20))
        std::snprintf(buf, sizeof buf, "%llu KB", static_cast<unsigned long long>((bytes + 1023) / 1024));
    else
        std::snprintf(buf, sizeof buf, "%.1f MB", static_cast<double>(bytes) / (1 << 20));
    return buf;
}

std::string EntryHeader() {
    char line[160];
    std::snprintf(line, sizeof line, "%-12s %-14s %9s  %-19s  %-15s %s", "PATH", "HOLDS", "SIZE", "UPDATED (UTC)",
                  "KIND", "NAME");
    return line;
}

std::string EntryLine(const BackupTree &tree, const VTBACKUPENTRY &e) { return EntryLine(tree.NamePath(e), e); }

std::string EntryLine(const std::string &namePath, const VTBACKUPENTRY &e) {
    std::string holds, name;
    switch (e.Kind) {
    case VTENTRY_BOX:
        holds = Count(e.NumOfDocs, "document", "documents");
        name = BackupTree::NumberPath(e) + "  (box \"" + PlainText(e.Name) + "\", " +
               Count(e.NumOfFolders, "folder", "folders") + ")";
        break;
    case VTENTRY_FOLDER:
        holds = Count(e.NumOfDocs, "document", "documents");
        name = PlainText(namePath) + "/";
        break;
    default: holds = Count(e.NumOfPages, "page", "pages"); name = PlainText(namePath);
    }
    const std::string kinds = Kinds(e);
    char line[160];
    std::snprintf(line, sizeof line, "%-12s %-14s %9s  %-19s  %-15s ", BackupTree::NumberPath(e).c_str(), holds.c_str(),
                  SizeText(e.Size).c_str(), HasDate(e.Date) ? FormatTime(e.Date, false).c_str() : "-",
                  kinds.empty() ? "-" : kinds.c_str());
    return line + name;
}

JsonObject EntryJson(const BackupTree &tree, const VTBACKUPENTRY &e) { return EntryJson(tree.NamePath(e), e); }

JsonObject EntryJson(const std::string &namePath, const VTBACKUPENTRY &e) {
    JsonObject o;
    o.Add("kind", e.Kind == VTENTRY_FOLDER ? "folder" : "document")
        .Add("path", BackupTree::NumberPath(e))
        .Add("namePath", namePath)
        .Add("box", e.BoxNo)
        .Add("folder", e.FolderNo);
    if (e.Kind == VTENTRY_DOCUMENT) o.Add("number", e.DocNo);
    o.Add("name", std::string(e.Name));
    if (e.Kind == VTENTRY_FOLDER)
        o.Add("documents", e.NumOfDocs);
    else
        o.Add("pages", e.NumOfPages).Add("files", e.NumOfFiles);
    o.Add("size", e.Size);
    if (HasDate(e.Date))
        o.Add("lastUpdate", IsoUtc(e.Date));
    else
        o.AddNull("lastUpdate");
    if (e.Kind == VTENTRY_DOCUMENT)
        o.Add("colour", (e.Kinds & VTCONVERT_COLOUR) != 0)
            .Add("widePaper", (e.Kinds & VTCONVERT_WIDE_PAPER) != 0)
            .Add("copyMix", (e.Kinds & VTCONVERT_COPY_MIX) != 0)
            .Add("colourFlags", e.ColourFlags)
            .Add("paperFlags", e.PaperFlags)
            .Add("mixFlags", e.MixFlags);
    return o;
}

}  // namespace vtcli
