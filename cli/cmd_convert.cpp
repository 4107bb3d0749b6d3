// vtbox convert backup|archive|summary: conversion of backup files and
// document archives between engine versions, without a device.
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <string>

#include "commands.hpp"
#include "conversion_report.hpp"
#include "exit_codes.hpp"
#include "failure_report.hpp"
#include "json_output.hpp"
#include "long_operation.hpp"
#include "progress_bar.hpp"
#include "text_output.hpp"
#include "vtBoxBRD.h"
#include "vthandles.hpp"
#include "work_folder.hpp"

namespace vtcli {

namespace {

namespace fs = std::filesystem;

std::string Drops(uint32_t mask) {
    std::string out;
    auto add = [&](uint32_t bit, const char *what) {
        if (mask & bit) out += (out.empty() ? "" : ", ") + std::string(what);
    };
    add(VTCONVERT_COLOUR, "colour documents");
    add(VTCONVERT_WIDE_PAPER, "documents on wide paper");
    add(VTCONVERT_COPY_MIX, "copies of mixed kind");
    return out.empty() ? "nothing" : out;
}

int RunSummary(const Options &o) {
    uint32_t mask = 0;
    uint32_t rc = vtBoxGetConvertSummary(o.fromVersion.c_str(), o.toVersion.c_str(), &mask);
    if (rc != 0) return ReportFailure("the conversion summary", rc, vtBoxGetLastErrorText(), FailureSite::LocalDisk);
    if (o.json) {
        PrintJsonLine(JsonObject()
                          .Add("from", o.fromVersion)
                          .Add("to", o.toVersion)
                          .Add("mask", mask)
                          .Add("colour", (mask & VTCONVERT_COLOUR) != 0)
                          .Add("widePaper", (mask & VTCONVERT_WIDE_PAPER) != 0)
                          .Add("copyMix", (mask & VTCONVERT_COPY_MIX) != 0)
                          .str());
    } else {
        std::printf("From %s to %s a conversion leaves out: %s\n", o.fromVersion.c_str(), o.toVersion.c_str(),
                    Drops(mask).c_str());
    }
    return 0;
}

// The version the source's own description names.
bool SourceVersion(const std::string &source, const std::string &work, std::string *version) {
    VTBACKUPINFO info{};
    uint32_t count = 0;
    VTBOXBK *boxes = nullptr;
    void *handle = nullptr;
    uint32_t rc = vtBoxGetXMLInfo(source.c_str(), work.c_str(), &info, &count, &boxes, &handle);
    vt::GlobalBlock boxList(handle);
    if (rc != 0) {
        ReportFailure("reading the engine version of " + source, rc, vtBoxGetLastErrorText(), FailureSite::BackupFile);
        return false;
    }
    *version = info.EngineVersion;
    return true;
}

void PrintTally(const BoxTally &t, bool backup) {
    if (backup)
        std::printf("  %03u  %6u %8u %7u %11u %9u  %s\n", t.box, t.kept, t.removed, t.colour, t.widePaper, t.copyMix,
                    PlainText(t.name).c_str());
    else
        std::printf("  %6u %8u %7u %11u %9u\n", t.kept, t.removed, t.colour, t.widePaper, t.copyMix);
}

JsonObject &AddTally(JsonObject &json, const BoxTally &t) {
    return json.Add("kept", t.kept)
        .Add("removed", t.removed)
        .Add("colour", t.colour)
        .Add("widePaper", t.widePaper)
        .Add("copyMix", t.copyMix);
}

void PrintReport(const Options &o, const std::string &from, const ConversionReport &report) {
    const bool backup = o.convertWhat == "backup";
    if (o.json) {
        JsonObject json;
        json.Add("destination", o.destination).Add("from", from).Add("to", o.toVersion);
        AddTally(json, report.Total());
        if (backup) {
            std::vector<std::string> boxes;
            for (const BoxTally &t : report.Boxes()) {
                JsonObject box;
                box.Add("number", t.box).Add("name", t.name);
                boxes.push_back(AddTally(box, t).str());
            }
            json.AddRaw("boxes", JsonArray(boxes));
        }
        PrintJsonLine(json.str());
        return;
    }
    std::printf("%s: %s for %s (from %s)\n", o.destination.c_str(), backup ? "backup" : "document archive",
                o.toVersion.c_str(), from.c_str());
    if (backup) {
        std::printf("  %-4s %6s %8s %7s %11s %9s  %s\n", "Box", "Kept", "Removed", "Colour", "Wide paper", "Copy mix",
                    "Name");
        for (const BoxTally &t : report.Boxes()) PrintTally(t, true);
        std::printf("  all  ");
        BoxTally total = report.Total();
        std::printf("%6u %8u %7u %11u %9u\n", total.kept, total.removed, total.colour, total.widePaper, total.copyMix);
    } else {
        std::printf("  %6s %8s %7s %11s %9s\n", "Kept", "Removed", "Colour", "Wide paper", "Copy mix");
        PrintTally(report.Total(), false);
    }
    std::printf("  (a document left out by two checks counts under both)\n");
}

}  // namespace

int RunConvert(const Context &c) {
    const Options &o = c.options;
    if (o.convertWhat == "summary") return RunSummary(o);
    // Ctrl-C from here on cancels the conversion, which then cleans up.
    HoldTerminationSignals();
    std::error_code ec;
    if (!fs::exists(o.source, ec)) return ReportProblem("the file " + o.source + " does not exist", kExitNotFound);
    if (!fs::is_regular_file(o.source, ec)) return ReportProblem(o.source + " is not a file", kExitNotFound);
    if (fs::is_directory(o.destination, ec))
        return ReportProblem(o.destination + " is a folder; give the converted file's name", kExitUsage);
    if (fs::exists(fs::symlink_status(o.destination, ec)))
        return ReportProblem(o.destination + " exists already; it is never replaced", kExitUsage);
    if (!fs::is_directory(FolderOf(o.destination), ec))
        return ReportProblem("the folder " + FolderOf(o.destination) + " does not exist", kExitNotFound);
    WorkFolder work(o.destination);
    if (!work.ok()) return ReportProblem(work.error(), kExitLocalDisk);
    std::string from = o.fromVersion;
    if (from.empty() && !SourceVersion(o.source, work.path(), &from)) return kExitDamagedFile;

    const bool backup = o.convertWhat == "backup";
    const std::string source = fs::absolute(o.source).string();
    const std::string destination = fs::absolute(o.destination).string();
    ConversionReport report;
    std::string detail;
    uint32_t rc = VTBOX_E_CANCELLED;
    if (!TerminationRequested()) {
        ProgressBar bar(backup ? "backup conversion" : "archive conversion");
        bar.NamePhase2Converting();
        rc = RunLongOperation(
            bar,
            [&](HANDLE cancel, HANDLE /*status*/, VTPROGRESSINFO *progress) {
                // No progress event: the bar reads the record on its own
                // timer, and the engine need not pause for a watcher.
                auto convert = backup ? vtBoxConvertBackupData : vtBoxConvertArchiveData;
                return convert(source.c_str(), destination.c_str(), work.path().c_str(), from.c_str(),
                               o.toVersion.c_str(), cancel, nullptr, progress);
            },
            nullptr, &detail);
    }
    if (rc == VTBOX_E_CANCELLED) {
        std::fprintf(stderr, "vtbox: the conversion was cancelled; nothing was written\n");
        return TerminationSignal() == SIGTERM ? kExitTerminated : kExitInterrupted;
    }
    if (rc != 0)
        return ReportFailure(backup ? "the backup conversion" : "the archive conversion", rc, detail,
                             FailureSite::BackupFile);
    PrintReport(o, from, report);
    return kExitDone;
}

}  // namespace vtcli
