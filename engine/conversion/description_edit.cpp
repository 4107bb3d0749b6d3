#include "conversion/description_edit.hpp"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <vector>

#include "description/description_writer.hpp"
#include "localfiles/local_file.hpp"
#include "localfiles/target_file.hpp"
#include "vtplatform.h"
#include "vtplatform/errors.hpp"

namespace vtbox {

namespace {

// Where the element's opening tag "<name>" or "<name attr...>" begins in
// line, or npos.
size_t FindOpeningTag(const std::string &line, const std::string &name) {
    const std::string open = "<" + name;
    for (size_t at = line.find(open); at != std::string::npos; at = line.find(open, at + 1)) {
        const size_t after = at + open.size();
        if (after < line.size() && (line[after] == '>' || line[after] == ' ' || line[after] == '\t')) return at;
    }
    return std::string::npos;
}

std::string EditedLine(const std::string &line, size_t tag, const std::string &name, const std::string &value) {
    const std::string escaped = EscapeXml(value);
    const size_t content = line.find('>', tag);
    const size_t close = content == std::string::npos ? content : line.find("</" + name + ">", content);
    if (close == std::string::npos) return "<" + name + ">" + escaped + "</" + name + ">";
    return line.substr(0, content + 1) + escaped + line.substr(close);
}

struct TempFile {
    std::string path;
    FILE *file = nullptr;
    ~TempFile() {
        if (file) std::fclose(file);
        if (!path.empty()) unlink(path.c_str());
    }
};

// A fresh file "MyX<unique>.tmp" in folder (the system's temporary names keep
// three characters of their prefix).
bool CreateTemp(const std::string &folder, TempFile *temp) {
    std::string pattern = JoinPath(FullPath(folder), "MyXXXXXXX.tmp");
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    int fd = mkstemps(name.data(), 4);
    if (fd < 0) {
        LastErrorFromErrno(errno);
        return false;
    }
    temp->path = name.data();
    fchmod(fd, 0644);
    temp->file = fdopen(fd, "wb");
    if (!temp->file) {
        LastErrorFromErrno(errno);
        close(fd);
        return false;
    }
    return true;
}

}  // namespace

int ReplaceXmlElementsInOrder(const std::string &file, const std::string &tempFolder,
                              const std::vector<std::pair<std::string, std::string>> &elements) {
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        LastErrorFromErrno(errno != 0 ? errno : ENOENT);
        return -1;
    }
    TempFile temp;
    if (!CreateTemp(tempFolder, &temp)) return -1;
    size_t next = 0;
    std::string line;
    bool written = true;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (next < elements.size()) {
            const auto &[name, value] = elements[next];
            size_t tag = FindOpeningTag(line, name);
            if (tag != std::string::npos) {
                line = EditedLine(line, tag, name, value);
                ++next;
            }
        }
        line += '\n';
        written = written && std::fwrite(line.data(), 1, line.size(), temp.file) == line.size();
    }
    if (in.bad()) {
        SetLastError(vt::code(vt::Code::INVALID_DATA));
        return -1;
    }
    FILE *f = temp.file;
    temp.file = nullptr;
    if (std::fclose(f) != 0 || !written) {
        LastErrorFromErrno(errno != 0 ? errno : ENOSPC);
        return -1;
    }
    if (uint32_t rc = ReplaceTargetFile(temp.path, file)) {
        SetLastError(rc);
        return -1;
    }
    temp.path.clear();
    return 0;
}

int ReplaceXmlElementLine(const std::string &file, const std::string &tempFolder, const std::string &name,
                          const std::string &value) {
    return ReplaceXmlElementsInOrder(file, tempFolder, {{name, value}});
}

}  // namespace vtbox
