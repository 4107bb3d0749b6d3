// vtbox ls, find and extract: a backup file's boxes, folders and documents,
// without a device.
#include <csignal>
#include <cstdio>
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

int RunExtract(const Context &c) {
    const Options &o = c.options;
    ListedFile f;
    std::vector<const VTBACKUPENTRY *> chosen;
    if (int rc = ResolvePaths(o.input, o.paths, &f, &chosen)) return rc;
    std::vector<VTBACKUPITEM> items;
    for (const auto *e : chosen) items.push_back(ItemOf(*e));

    std::error_code ec;
    fs::create_directories(o.output, ec);
    if (!fs::is_directory(o.output, ec))
        return ReportProblem(o.output + " is not a folder, and none can be made there", kExitLocalDisk);
    WorkFolder work = WorkFolderFor(o.input);
    if (!work.ok()) return ReportProblem(work.error(), kExitLocalDisk);
    ClearDeadExtractions(o.output);
    // Ctrl-C from here on cancels the extraction, which removes the document
    // it was writing: the target holds whole documents only. (Before, it
    // ends the program at once: nothing is in the target yet.)
    HoldTerminationSignals();
    uint32_t count = 0;
    VTEXTRACTED *written = nullptr;
    vt::GlobalBlock block;
    if (!TerminationRequested())
        block.reset(vtBoxExtractDocuments(o.input.c_str(), work.path().c_str(), o.output.c_str(),
                                          static_cast<uint32_t>(items.size()), items.data(), StopEvent(), &count,
                                          &written));
    if (!block && (TerminationRequested() || GetLastError() == VTBOX_E_CANCELLED)) {
        std::fprintf(stderr, "vtbox: the extraction was cancelled; the documents written before it are whole\n");
        return TerminationSignal() == SIGTERM ? kExitTerminated : kExitInterrupted;
    }
    if (!block)
        return ReportFailure("extracting from " + o.input, GetLastError(), vtBoxGetLastErrorText(),
                             FailureSite::BackupFile);
    auto pathOf = [](const VTEXTRACTED &x) {
        VTBACKUPENTRY e{};
        e.Kind = VTENTRY_DOCUMENT;
        e.BoxNo = x.BoxNo;
        e.FolderNo = x.FolderNo;
        e.DocNo = x.DocNo;
        return BackupTree::NumberPath(e);
    };
    if (o.json) {
        std::vector<std::string> documents;
        for (uint32_t i = 0; i < count; ++i) {
            JsonObject d;
            d.Add("path", pathOf(written[i]))
                .Add("name", std::string(written[i].Name))
                .Add("folder", (fs::path(o.output) / written[i].Folder).string())
                .Add("files", written[i].NumOfFiles)
                .Add("size", written[i].Size);
            documents.push_back(d.str());
        }
        JsonObject out;
        out.Add("file", o.input).Add("target", o.output).AddRaw("documents", JsonArray(documents));
        PrintJsonLine(out.str());
        return kExitDone;
    }
    if (!Output().quiet) {
        for (uint32_t i = 0; i < count; ++i)
            std::printf("%-12s \"%s\" -> %s\n", pathOf(written[i]).c_str(), PlainText(written[i].Name).c_str(),
                        PlainText((fs::path(o.output) / written[i].Folder).string()).c_str());
        std::printf("%u document%s extracted into %s\n", count, count == 1 ? "" : "s", PlainText(o.output).c_str());
    }
    return kExitDone;
}

}  // namespace vtcli
