#include "job_files.hpp"

#include <minizip/zip.h>

#include <QString>
#include <fstream>
#include <iterator>
#include <map>
#include <stdexcept>

#include "device_session.hpp"
#include "devicesim/record_file.hpp"

namespace vttest {

namespace fs = std::filesystem;

namespace {

void WriteZip(const std::string &path, const std::string &entry, const std::string &text) {
    zipFile zip = zipOpen(path.c_str(), APPEND_STATUS_CREATE);
    if (!zip) throw std::runtime_error("cannot make " + path);
    zip_fileinfo info{};
    bool ok = zipOpenNewFileInZip(zip, entry.c_str(), &info, nullptr, 0, nullptr, 0, nullptr, Z_DEFLATED,
                                  Z_DEFAULT_COMPRESSION) == ZIP_OK &&
              zipWriteInFileInZip(zip, text.data(), static_cast<unsigned>(text.size())) == ZIP_OK &&
              zipCloseFileInZip(zip) == ZIP_OK;
    ok = zipClose(zip, nullptr) == ZIP_OK && ok;
    if (!ok) throw std::runtime_error("cannot write " + path);
}

std::vector<uint8_t> FileBytes(const fs::path &path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

void WriteBytes(const fs::path &path, const std::vector<uint8_t> &bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char *>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

std::u16string Utf16(const std::string &text) { return QString::fromStdString(text).toStdU16String(); }

}  // namespace

void WriteBackupDescription(const std::string &path, const std::string &engineVersion,
                            const std::vector<DescribedBox> &boxes) {
    std::string xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<BackupInfo>\r\n<EngineVersion>" + engineVersion +
                      "</EngineVersion>\r\n<MACAddress>02:00:5E:10:20:30</MACAddress>\r\n"
                      "<BackupDate>2025/03/04 05:06:07</BackupDate>\r\n<Timezone>GMT+01:00</Timezone>\r\n"
                      "<Boxes NumOfBoxes=\"" +
                      std::to_string(boxes.size()) + "\">\r\n";
    for (const DescribedBox &box : boxes)
        xml += "<BoxProp>\r\n<BoxName>" + box.name + "</BoxName>\r\n<BoxNo>" + std::to_string(box.number) +
               "</BoxNo>\r\n<Protected>" + (box.isProtected ? "yes" : "no") +
               "</Protected>\r\n<NumOfFolders>1</NumOfFolders>\r\n<NumOfDocs>4</NumOfDocs>\r\n<BoxUsedDisk>" +
               std::to_string(box.usedKb) + "</BoxUsedDisk>\r\n</BoxProp>\r\n";
    xml += "</Boxes>\r\n</BackupInfo>";
    WriteZip(path, "BOX/Backup.XML", xml);
}

void WriteArchiveDescription(const std::string &path, const std::string &engineVersion) {
    WriteZip(path, "BOX/Archive.XML",
             "<ArchiveInfo><Version>" + engineVersion +
                 "</Version><MACAddress>M</MACAddress><NumOfDocs>3</NumOfDocs>"
                 "<ArchiveDate>2025/1/2</ArchiveDate></ArchiveInfo>");
}

vtutil::JobOutcome RunJobWithoutWindow(vtutil::DeviceSession &session, vtutil::JobRequest request) {
    std::unique_ptr<vtutil::CJobThread> job;
    if (request.operation == vtutil::JobOperation::Backup)
        job = std::make_unique<vtutil::CBackupThread>(session, std::move(request), nullptr);
    else
        job = std::make_unique<vtutil::CRestoreThread>(session, std::move(request), nullptr);
    vtutil::JobOutcome outcome;
    QObject::connect(
        job.get(), &vtutil::CJobThread::Ended, job.get(),
        [&outcome](const vtutil::JobOutcome &ended) { outcome = ended; }, Qt::DirectConnection);
    job->start();
    job->wait();
    return outcome;
}

fs::path BoxLevel(const SimDevice &sim, uint32_t box) {
    char name[32];
    std::snprintf(name, sizeof name, "SHR/BOX/DATA/B0000%03u/P0000001", box);
    return fs::path(sim.storeRoot) / name;
}

void RenameEntry(const fs::path &record, const std::string &name) {
    devicesim::EntryRecord r = devicesim::DecodeEntryRecord(FileBytes(record));
    r.displayName = Utf16(name);
    WriteBytes(record, devicesim::EncodeEntryRecord(r));
}

void AddDocument(const fs::path &level, uint32_t number, const std::string &name) {
    char own[16];
    std::snprintf(own, sizeof own, "D0000%03u", number);
    devicesim::EntryRecord r;
    r.ownName = own;
    r.displayName = Utf16(name);
    r.updateTime = 1700000000;
    r.createTime = 1600000000 + number;
    fs::create_directories(level / own);
    WriteBytes(level / (std::string(own) + ".XML"), devicesim::EncodeEntryRecord(r));
    WriteBytes(level / own / "PAGE0001.DAT", {1, 2, 3, static_cast<uint8_t>(number)});
}

std::vector<std::string> DocumentNames(const fs::path &level) {
    std::map<std::string, std::string> byRecord;
    for (const auto &e : fs::directory_iterator(level)) {
        const std::string file = e.path().filename().string();
        if (file.size() != 12 || file[0] != 'D' || !file.ends_with(".XML")) continue;
        const devicesim::EntryRecord r = devicesim::DecodeEntryRecord(FileBytes(e.path()));
        byRecord[file] = QString::fromStdU16String(r.displayName).toStdString();
    }
    std::vector<std::string> names;
    for (const auto &[file, name] : byRecord) names.push_back(name);
    return names;
}

std::vector<std::string> WorkFoldersIn(const std::string &folder) {
    std::vector<std::string> found;
    std::error_code ec;
    for (const auto &e : fs::directory_iterator(folder, ec))
        if (e.path().filename().string().rfind(".$__B_R_Temp__$", 0) == 0) found.push_back(e.path().string());
    return found;
}

}  // namespace vttest
