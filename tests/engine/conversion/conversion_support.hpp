// What the conversion tests share: a settings folder of their own, a seeded
// store, document archives made from it by an independent writer, and
// runs of the conversions with a watcher on the progress event.
#pragma once

#include <atomic>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "backup_job.hpp"
#include "devicesim/seeding.hpp"
#include "temp_dir.hpp"
#include "vtBoxBRD.h"

namespace vtconv {

namespace fs = std::filesystem;

// A settings file "<from>.ini" in folder, found through VTBOX_CONVERSION_PATH.
inline void WriteSettings(const std::string &folder, const std::string &from, const std::string &text) {
    fs::create_directories(folder);
    std::ofstream(folder + "/" + from + ".ini") << text;
}

struct ConversionRun {
    uint32_t rc = 0;
    std::string detail;
    VTPROGRESSINFO progress{};
    std::vector<VTPROGRESSINFO> seen;  // the record each time the event fired (with a watcher)
};

using Converter = uint32_t (*)(const char *, const char *, const char *, const char *, const char *, HANDLE, HANDLE,
                               VTPROGRESSINFO *);

// Runs a conversion; with watch, a watcher thread waits on the progress
// event, keeps each record it sees and may cancel.
inline ConversionRun Convert(Converter convert, const std::string &source, const std::string &destination,
                             const std::string &work, const std::string &from, const std::string &to, bool watch,
                             const std::function<bool(const VTPROGRESSINFO &)> &cancel_when = {}) {
    ConversionRun run;
    HANDLE status = watch ? CreateEventA(nullptr, FALSE, FALSE, nullptr) : nullptr;
    HANDLE cancel = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    std::atomic<bool> done{false};
    std::thread watcher;
    if (watch) {
        watcher = std::thread([&] {
            while (!done) {
                if (WaitForSingleObject(status, 20) != WAIT_OBJECT_0) continue;
                run.seen.push_back(run.progress);
                if (cancel_when && cancel_when(run.progress)) SetEvent(cancel);
            }
        });
    }
    run.rc = convert(source.c_str(), destination.c_str(), work.c_str(), from.c_str(), to.c_str(), cancel, status,
                     &run.progress);
    run.detail = vtBoxGetLastErrorText();
    done = true;
    if (watcher.joinable()) watcher.join();
    // The watcher may have stopped looking before the last signal came: the
    // record as the conversion left it is what a caller sees last.
    if (watch) run.seen.push_back(run.progress);
    if (status) CloseHandle(status);
    CloseHandle(cancel);
    return run;
}

// Makes a document archive of one level of a store with Python's zipfile.
inline void MakeArchive(const std::string &level, const std::string &out, const std::string &version) {
    std::string output;
    int rc = vttest::RunCommand(
        "python3 " VTBOX_SUPPORT_DIR "/make_archive.py '" + level + "' '" + out + "' '" + version + "' 2>&1", &output);
    if (rc != 0) throw std::runtime_error("make_archive.py: " + output);
}

// Runs a Python snippet with the arguments; returns its standard output.
inline std::string Python(const std::string &code, const std::vector<std::string> &args) {
    std::string command = "python3 -c '" + code + "'";
    for (const auto &a : args) command += " '" + a + "'";
    std::string output;
    int rc = vttest::RunCommand(command + " 2>&1", &output);
    if (rc != 0) throw std::runtime_error("python: " + output);
    return output;
}

// The names in a zip file, one a line, in stored order.
inline std::string ZipNames(const std::string &zip) {
    return Python("import sys,zipfile\nfor n in zipfile.ZipFile(sys.argv[1]).namelist(): print(n)", {zip});
}

// A member of a zip file (nested: "outer.zip!inner.zip!name").
inline std::string ZipMember(const std::string &zip, const std::string &name) {
    return Python("import sys,zipfile\nsys.stdout.buffer.write(zipfile.ZipFile(sys.argv[1]).read(sys.argv[2]))",
                  {zip, name});
}

}  // namespace vtconv
