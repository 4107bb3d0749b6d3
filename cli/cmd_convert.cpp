// vtbox convert backup|archive|summary: conversion of backup files and
// document archives between engine versions, without a device.
#include <cstdio>
#include <filesystem>
#include <string>

#include "commands.hpp"
#include "conversion_report.hpp"
#include "long_operation.hpp"
#include "text_output.hpp"
#include "vtBoxBRD.h"
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
    if (rc != 0) {
        PrintError("the conversion summary", rc, vtBoxGetLastErrorText());
        return 1;
    }
    if (o.json) {
        std::printf("{\"from\":%s,\"to\":%s,\"mask\":%u,\"colour\":%s,\"widePaper\":%s,\"copyMix\":%s}\n",
                    JsonString(o.fromVersion).c_str(), JsonString(o.toVersion).c_str(), mask,
                    mask & VTCONVERT_COLOUR ? "true" : "false", mask & VTCONVERT_WIDE_PAPER ? "true" : "false",
                    mask & VTCONVERT_COPY_MIX ? "true" : "false");
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
    if (handle) GlobalFree(handle);
    if (rc != 0) {
        PrintError("reading the engine version of " + source, rc, vtBoxGetLastErrorText());
        return false;
    }
    *version = info.EngineVersion;
    return true;
}

void PrintTally(const BoxTally &t, bool backup) {
    if (backup)
        std::printf("  %03u  %6u %8u %7u %11u %9u  %s\n", t.box, t.kept, t.removed, t.colour, t.widePaper, t.copyMix,
                    t.name.c_str());
    else
        std::printf("  %6u %8u %7u %11u %9u\n", t.kept, t.removed, t.colour, t.widePaper, t.copyMix);
}

std::string TallyJson(const BoxTally &t) {
    return "\"kept\":" + std::to_string(t.kept) + ",\"removed\":" + std::to_string(t.removed) +
           ",\"colour\":" + std::to_string(t.colour) + ",\"widePaper\":" + std::to_string(t.widePaper) +
           ",\"copyMix\":" + std::to_string(t.copyMix);
}

void PrintReport(const Options &o, const std::string &from, const ConversionReport &report) {
    const bool backup = o.convertWhat == "backup";
    if (o.json) {
        std::string json = "{\"destination\":" + JsonString(o.destination) + ",\"from\":" + JsonString(from) +
                           ",\"to\":" + JsonString(o.toVersion) + "," + TallyJson(report.Total());
        if (backup) {
            json += ",\"boxes\":[";
            bool first = true;
            for (const BoxTally &t : report.Boxes()) {
                json += std::string(first ? "" : ",") + "{\"number\":" + std::to_string(t.box) +
                        ",\"name\":" + JsonString(t.name) + "," + TallyJson(t) + "}";
                first = false;
            }
            json += "]";
        }
        std::printf("%s}\n", json.c_str());
        return;
    }
    std::printf("%s: %s for %s (from %s)\n", o.destination.c_str(), backup ? "backup" : "document archive",
                o.toVersion.c_str(), from.c_str());
    if (backup) {
        std::printf("  %-4s %6s %8s %7s %11s %9s  %s\n", "Box", "Kept", "Removed", "Colour", "Wide paper",
                    "Copy mix", "Name");
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

int RunConvert(const Options &o) {
    if (o.convertWhat == "summary") return RunSummary(o);
    // Ctrl-C from here on cancels the conversion, which then cleans up.
    HoldTerminationSignals();
    std::error_code ec;
    if (!fs::is_regular_file(o.source, ec)) {
        std::fprintf(stderr, "vtbox: %s is not a file\n", o.source.c_str());
        return 1;
    }
    if (fs::is_directory(o.destination, ec)) {
        std::fprintf(stderr, "vtbox: %s is a folder; give the converted file's name\n", o.destination.c_str());
        return 1;
    }
    if (fs::exists(fs::symlink_status(o.destination, ec))) {
        std::fprintf(stderr, "vtbox: %s exists already; it is never replaced\n", o.destination.c_str());
        return 1;
    }
    if (!fs::is_directory(FolderOf(o.destination), ec)) {
        std::fprintf(stderr, "vtbox: the folder %s does not exist\n", FolderOf(o.destination).c_str());
        return 1;
    }
    WorkFolder work(o.destination);
    if (!work.ok()) {
        std::fprintf(stderr, "vtbox: %s\n", work.error().c_str());
        return 1;
    }
    std::string from = o.fromVersion;
    if (from.empty() && !SourceVersion(o.source, work.path(), &from)) return 1;

    const bool backup = o.convertWhat == "backup";
    const std::string source = fs::absolute(o.source).string();
    const std::string destination = fs::absolute(o.destination).string();
    ConversionReport report;
    std::string detail;
    uint32_t rc = 995;
    if (!TerminationRequested()) {
        rc = RunLongOperation(
            backup ? "backup conversion" : "archive conversion",
            [&](HANDLE cancel, HANDLE /*status*/, VTPROGRESSINFO *progress) {
                // No progress event: the display reads the record on its own
                // timer, and the engine need not pause for a watcher.
                auto convert = backup ? vtBoxConvertBackupData : vtBoxConvertArchiveData;
                return convert(source.c_str(), destination.c_str(), work.path().c_str(), from.c_str(),
                               o.toVersion.c_str(), cancel, nullptr, progress);
            },
            &detail, true);
    }
    if (rc == 995) {
        std::fprintf(stderr, "vtbox: the conversion was cancelled; nothing was written\n");
        return 130;
    }
    if (rc != 0) {
        PrintError(backup ? "the backup conversion" : "the archive conversion", rc, detail);
        return 1;
    }
    PrintReport(o, from, report);
    return 0;
}

}  // namespace vtcli
