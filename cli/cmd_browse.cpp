// vtbox ls, find and extract: a backup file's boxes, folders and documents,
// without a device.
#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <set>

#include "backup_listing.hpp"
#include "commands.hpp"
#include "failure_report.hpp"
#include "json_output.hpp"
#include "long_operation.hpp"
#include "name_pattern.hpp"
#include "text_output.hpp"
#include "vtBoxBRD.h"
#include "vthandles.hpp"
#include "work_folder.hpp"

namespace vtcli {

namespace {

namespace fs = std::filesystem;

// The box object of ls --json: the description's box, with what it holds
// (its entries follow).
JsonObject BoxHead(const ListedFile &f, const VTBACKUPENTRY &box) {
    JsonObject o = BoxJson(box.BoxNo, box.Name);
    auto d = f.described.find(box.BoxNo);
    if (d != f.described.end())
        o.Add("protected", d->second.Protected != 0)
            .Add("folders", d->second.NumOfFolders)
            .Add("documents", d->second.NumOfDocs)
            .Add("usedKB", d->second.BoxUsedDisk);
    o.Add("size", box.Size);
    if (box.Date.wYear != 0)
        o.Add("lastUpdate", IsoUtc(box.Date));
    else
        o.AddNull("lastUpdate");
    return o;
}

JsonObject BoxWithEntries(const ListedFile &f, const VTBACKUPENTRY &box, const std::vector<std::string> &entries) {
    return BoxHead(f, box).AddRaw("entries", JsonArray(entries));
}

// ls of a whole file, written as the listing is read: a box at a time is
// held, whatever the file holds.
int ListWhole(const Options &o) {
    ListedFile f;
    if (o.json) {
        JsonLineWriter line;
        line.Write(JsonObject().Add("file", o.input).opened() + ",\"boxes\":[");
        bool firstBox = true, firstEntry = true;
        int rc = WalkListing(o.input, {}, &f, [&](const VTBACKUPENTRY &e, const std::string &namePath) {
            if (e.Kind == VTENTRY_BOX) {
                line.Write(std::string(firstBox ? "" : "]},") + BoxHead(f, e).opened() + ",\"entries\":[");
                firstBox = false;
                firstEntry = true;
                return;
            }
            line.Write((firstEntry ? "" : ",") + EntryJson(namePath, e).str());
            firstEntry = false;
        });
        if (rc) return rc;
        line.Write(firstBox ? "]}" : "]}]}");
        line.Finish();
        return kExitDone;
    }
    bool headed = false;
    auto head = [&] {
        if (!headed) std::printf("%s\n", EntryHeader().c_str());
        headed = true;
    };
    int rc = WalkListing(o.input, {}, &f, [&](const VTBACKUPENTRY &e, const std::string &namePath) {
        head();
        std::printf("%s\n", EntryLine(namePath, e).c_str());
    });
    if (rc) return rc;
    head();
    return kExitDone;
}

}  // namespace

int RunLs(const Context &c) {
    const Options &o = c.options;
    if (o.paths.empty()) return ListWhole(o);
    ListedFile f;
    std::vector<const VTBACKUPENTRY *> at;
    if (int rc = ResolvePaths(o.input, o.paths, &f, &at)) return rc;
    const std::vector<const VTBACKUPENTRY *> shown = f.tree.Below(*at.front());
    if (o.json) {
        // Boxes as the other commands show them, each with its entries.
        std::vector<std::string> boxes, entries;
        const VTBACKUPENTRY *box = nullptr;
        auto flush = [&] {
            if (box) boxes.push_back(BoxWithEntries(f, *box, entries).str());
            entries.clear();
        };
        for (const auto *e : shown) {
            if (e->Kind == VTENTRY_BOX) {
                flush();
                box = e;
                continue;
            }
            if (!box)  // a folder or document listed alone: its box comes along
                for (const auto &b : f.tree.entries())
                    if (b.Kind == VTENTRY_BOX && b.BoxNo == e->BoxNo) box = &b;
            entries.push_back(EntryJson(f.tree, *e).str());
        }
        flush();
        JsonObject out;
        out.Add("file", o.input).AddRaw("boxes", JsonArray(boxes));
        PrintJsonLine(out.str());
        return kExitDone;
    }
    std::printf("%s\n", EntryHeader().c_str());
    for (const auto *e : shown) std::printf("%s\n", EntryLine(f.tree, *e).c_str());
    return kExitDone;
}

int RunFind(const Context &c) {
    const Options &o = c.options;
    const std::string &pattern = o.paths.front();
    // Matches are written as they are found.
    ListedFile f;
    JsonLineWriter line;
    size_t found = 0;
    int rc = WalkListing(o.input, {}, &f, [&](const VTBACKUPENTRY &e, const std::string &namePath) {
        if (e.Kind == VTENTRY_BOX || !MatchesName(pattern, e.Name)) return;
        if (o.json) {
            if (found == 0)
                line.Write(JsonObject().Add("file", o.input).Add("pattern", pattern).opened() + ",\"matches\":[");
            line.Write((found ? "," : "") + EntryJson(namePath, e).str());
        } else {
            if (found == 0) std::printf("%s\n", EntryHeader().c_str());
            std::printf("%s\n", EntryLine(namePath, e).c_str());
        }
        ++found;
    });
    if (rc) return rc;
    if (o.json) {
        line.Write(found ? "]}"
                         : JsonObject().Add("file", o.input).Add("pattern", pattern).opened() + ",\"matches\":[]}");
        line.Finish();
    }
    if (found == 0) {
        if (!o.json && !Output().quiet)
            std::fprintf(stderr, "vtbox: no folder or document of %s matches %s\n", PlainText(o.input).c_str(),
                         PlainText(pattern).c_str());
        return kExitNotFound;
    }
    return kExitDone;
}

namespace {

// The items that paths name, resolved as ResolvePaths resolves them while
// holding of the listing only what a path could name: the boxes, their
// folders, and the documents whose name or number is a part of a path. A
// path that does not resolve there is resolved again in the whole listing,
// which says what is wrong as every other command says it.
int ResolveItems(const std::string &file, const std::vector<std::string> &paths, std::vector<VTBACKUPITEM> *items) {
    std::vector<uint32_t> boxes;
    std::string problem;
    if (!BoxesOfPaths(paths, &boxes, &problem)) return ReportProblem(problem, kExitUsage);
    // Whole boxes ("3", "3/") need the description alone.
    if (std::all_of(paths.begin(), paths.end(), [](const std::string &p) {
            const size_t slash = p.find('/');
            return slash == std::string::npos || slash + 1 == p.size();
        })) {
        ListedFile f;
        if (int rc = ReadDescribedBoxes(file, boxes, &f)) return rc;
        items->clear();
        for (uint32_t box : boxes) items->push_back({box, 0, 0});
        return kExitDone;
    }
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
    items->clear();
    for (const auto &path : paths) {
        bool ambiguous = false;
        const VTBACKUPENTRY *e = tree.Resolve(path, &problem, &ambiguous);
        if (!e) {
            ListedFile whole;
            std::vector<const VTBACKUPENTRY *> resolved;
            if (int rc = ResolvePaths(file, paths, &whole, &resolved)) return rc;
            items->clear();
            for (const auto *r : resolved) items->push_back(ItemOf(*r));
            return kExitDone;
        }
        items->push_back(ItemOf(*e));
    }
    return kExitDone;
}

// What vtBoxExtractDocumentsEach hands each written document to: the
// document shown at once, as a line or as the next object of the JSON.
struct ExtractOutput {
    const Options *o;
    JsonLineWriter *line;
    uint32_t count = 0;
};

uint32_t OnExtracted(const VTEXTRACTED *x, void *context) {
    auto *out = static_cast<ExtractOutput *>(context);
    const Options &o = *out->o;
    VTBACKUPENTRY e{};
    e.Kind = VTENTRY_DOCUMENT;
    e.BoxNo = x->BoxNo;
    e.FolderNo = x->FolderNo;
    e.DocNo = x->DocNo;
    const std::string path = BackupTree::NumberPath(e);
    if (o.json) {
        if (out->count == 0)
            out->line->Write(JsonObject().Add("file", o.input).Add("target", o.output).opened() + ",\"documents\":[");
        JsonObject d;
        d.Add("path", path)
            .Add("name", std::string(x->Name))
            .Add("folder", (fs::path(o.output) / x->Folder).string())
            .Add("files", x->NumOfFiles)
            .Add("size", x->Size);
        out->line->Write((out->count ? "," : "") + d.str());
    } else if (!Output().quiet) {
        std::printf("%-12s \"%s\" -> %s\n", path.c_str(), PlainText(x->Name).c_str(),
                    PlainText((fs::path(o.output) / x->Folder).string()).c_str());
    }
    ++out->count;
    return 0;
}

}  // namespace

int RunExtract(const Context &c) {
    const Options &o = c.options;
    std::vector<VTBACKUPITEM> items;
    if (int rc = ResolveItems(o.input, o.paths, &items)) return rc;

    std::error_code ec;
    const bool made = fs::create_directories(o.output, ec);
    if (!fs::is_directory(o.output, ec))
        return ReportProblem(o.output + " is not a folder, and none can be made there", kExitLocalDisk);
    WorkFolder work = WorkFolderFor(o.input);
    if (!work.ok()) return ReportProblem(work.error(), kExitLocalDisk);
    ClearDeadExtractions(o.output);
    // Ctrl-C from here on cancels the extraction, which removes the document
    // it was writing: the target holds whole documents only. (Before, it
    // ends the program at once: nothing is in the target yet.) Each document
    // is shown as it is written, so that one box of the file is held at a time.
    HoldTerminationSignals();
    JsonLineWriter line;
    ExtractOutput out{&o, &line};
    uint32_t rc = VTBOX_E_CANCELLED;
    if (!TerminationRequested())
        rc = vtBoxExtractDocumentsEach(o.input.c_str(), work.path().c_str(), o.output.c_str(),
                                       static_cast<uint32_t>(items.size()), items.data(), StopEvent(), OnExtracted,
                                       &out);
    // A target made for this extraction goes again when nothing came of it:
    // a damaged box is found only once the target is there.
    if (rc != 0 && made && out.count == 0) fs::remove(o.output, ec);
    if (rc != 0 && (TerminationRequested() || rc == VTBOX_E_CANCELLED)) {
        std::fprintf(stderr, "vtbox: the extraction was cancelled; the documents written before it are whole\n");
        return TerminationSignal() == SIGTERM ? kExitTerminated : kExitInterrupted;
    }
    if (rc != 0)
        return ReportFailure("extracting from " + o.input, rc, vtBoxGetLastErrorText(), FailureSite::BackupFile);
    if (o.json) {
        line.Write(out.count
                       ? "]}"
                       : JsonObject().Add("file", o.input).Add("target", o.output).opened() + ",\"documents\":[]}");
        line.Finish();
        return kExitDone;
    }
    if (!Output().quiet)
        std::printf("%u document%s extracted into %s\n", out.count, out.count == 1 ? "" : "s",
                    PlainText(o.output).c_str());
    return kExitDone;
}

}  // namespace vtcli
