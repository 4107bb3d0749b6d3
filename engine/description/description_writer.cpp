#include "description/description_writer.hpp"

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "session/result.hpp"
#include "vtplatform/diag.hpp"
#include "vtplatform/errors.hpp"

namespace vtbox {

std::string TimeZoneText(int offset) {
    int magnitude = std::abs(offset);
    return vt::Format("GMT%c%02i:%02i", offset >= 0 ? '+' : '-', magnitude / 60, magnitude % 60);
}

std::string EscapeXml(const std::string &text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        switch (c) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"': out += "&quot;"; break;
        case '\'': out += "&apos;"; break;
        default: out += c;
        }
    }
    return out;
}

DescriptionWriter::DescriptionWriter(const std::string &path) : path_(path) {
    file_ = std::fopen(path.c_str(), "wb");
    if (!file_) Raise(vt::Win32FromErrno(errno), "cannot write " + path);
}

DescriptionWriter::~DescriptionWriter() {
    if (file_) std::fclose(file_);
}

void DescriptionWriter::Line(const std::string &text) {
    std::string line = text + "\r\n";
    if (std::fwrite(line.data(), 1, line.size(), file_) != line.size())
        Raise(vt::Win32FromErrno(errno), "cannot write " + path_);
}

void DescriptionWriter::WriteHeader() {
    Line("<?xml version=\"1.0\" encoding=\"UTF-8\"?>");
    Line("<BackupInfo>");
}

void DescriptionWriter::WriteDevice(const VTENGVERSION &version, const SYSTEMTIME &local, int offset) {
    std::string engine(version.EngineVersion, strnlen(version.EngineVersion, sizeof version.EngineVersion));
    if (engine.size() < 40) engine.append(40 - engine.size(), ' ');
    std::string mac(version.MACAddress, strnlen(version.MACAddress, sizeof version.MACAddress));
    Line("<EngineVersion>" + EscapeXml(engine) + "</EngineVersion>");
    Line("<MACAddress>" + EscapeXml(mac) + "</MACAddress>");
    Line(vt::Format("<BackupDate>%04d/%02d/%02d %02d:%02d:%02d</BackupDate>", local.wYear, local.wMonth, local.wDay,
                    local.wHour, local.wMinute, local.wSecond));
    Line("<Timezone>" + TimeZoneText(offset) + "</Timezone>");
}

void DescriptionWriter::BeginBoxes(uint32_t count) { Line(vt::Format("<Boxes NumOfBoxes=\"%u\">", count)); }

void DescriptionWriter::WriteBox(const VTBOXEX &box) {
    // The name as the device meant it (decoded once from its reply), escaped
    // once here, so that it reads back exactly.
    std::string name(box.BoxName, strnlen(box.BoxName, sizeof box.BoxName));
    Line("<BoxProp>");
    Line("<BoxName>" + EscapeXml(name) + "</BoxName>");
    Line(vt::Format("<BoxNo>%u</BoxNo>", box.BoxNo));
    Line(box.Protected ? "<Protected>yes</Protected>" : "<Protected>no</Protected>");
    Line(vt::Format("<NumOfFolders>%u</NumOfFolders>", box.NumOfFolders));
    Line(vt::Format("<NumOfDocs>%u</NumOfDocs>", box.NumOfDocs));
    Line(vt::Format("<BoxUsedDisk>%u</BoxUsedDisk>", box.BoxUsedDisk));
    Line("</BoxProp>");
}

void DescriptionWriter::Finish() {
    Line("</Boxes>");
    static const char kLast[] = "</BackupInfo>";
    bool ok = std::fwrite(kLast, 1, sizeof kLast - 1, file_) == sizeof kLast - 1;
    int err = errno;
    if (std::fclose(file_) != 0 && ok) {
        ok = false;
        err = errno;
    }
    file_ = nullptr;
    if (!ok) Raise(vt::Win32FromErrno(err), "cannot write " + path_);
}

}  // namespace vtbox
