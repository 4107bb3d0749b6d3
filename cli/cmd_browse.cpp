// vtbox ls, find and extract: a backup file's boxes, folders and documents,
// without a device.
#include <csignal>
#include <cstdio>
#include <filesystem>

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
    std::vector<VTBACKUPITEM> at;
    if (int rc = ResolveItems(o.input, o.paths, &at)) return rc;
    // The first path's part and what lies below it, written as its box is
    // read: the box is never held whole.
    const VTBACKUPITEM shown = at.front();
    auto inside = [&shown](const VTBACKUPENTRY &e) {
        if (shown.FolderNo == 0 && shown.DocNo == 0) return true;  // the box
        if (shown.DocNo == 0) return e.Kind != VTENTRY_BOX && e.FolderNo == shown.FolderNo;
        return e.Kind == VTENTRY_DOCUMENT && e.FolderNo == shown.FolderNo && e.DocNo == shown.DocNo;
    };
    ListedFile f;
    if (o.json) {
        // The box as the other commands show it, with the entries.
        JsonLineWriter line;
        bool firstEntry = true;
        int rc = WalkListing(o.input, {shown.BoxNo}, &f, [&](const VTBACKUPENTRY &e, const std::string &namePath) {
            if (e.Kind == VTENTRY_BOX) {
                line.Write(JsonObject().Add("file", o.input).opened() + ",\"boxes\":[" + BoxHead(f, e).opened() +
                           ",\"entries\":[");
                return;
            }
            if (!inside(e)) return;
            line.Write((firstEntry ? "" : ",") + EntryJson(namePath, e).str());
            firstEntry = false;
        });
        if (rc) return rc;
        line.Write("]}]}");
        line.Finish();
        return kExitDone;
    }
    bool headed = false;
    return WalkListing(o.input, {shown.BoxNo}, &f, [&](const VTBACKUPENTRY &e, const std::string &namePath) {
        if (!inside(e)) return;
        if (!headed) std::printf("%s\n", EntryHeader().c_str());
        headed = true;
        std::printf("%s\n", EntryLine(namePath, e).c_str());
    });
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
    if (rc != 0 && (TerminationRequested() || rc == VTBOX_E_CANCELLED)) {
        std::fprintf(stderr, "vtbox: the extraction was cancelled; the documents written before it are whole\n");
        return TerminationSignal() == SIGTERM ? kExitTerminated : kExitInterrupted;
    }
    // A target made for this extraction goes again when a failure left
    // nothing in it: a damaged box is found only once the target is there.
    if (rc != 0 && made && out.count == 0) fs::remove(o.output, ec);
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
