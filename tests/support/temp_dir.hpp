// A fresh temporary folder, removed with everything in it when the object dies.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <string>

namespace vttest {

class TempDir {
public:
    TempDir() {
        std::string tmpl = (std::filesystem::temp_directory_path() / "vtbox-test-XXXXXX").string();
        char *made = mkdtemp(tmpl.data());
        if (made) path_ = made;
    }
    ~TempDir() {
        std::error_code ec;
        if (!path_.empty()) std::filesystem::remove_all(path_, ec);
    }
    TempDir(const TempDir &) = delete;
    TempDir &operator=(const TempDir &) = delete;

    const std::string &path() const { return path_; }
    std::string operator/(const std::string &name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

// Puts the process's current folder back when it ends (the local-folder
// functions change it, as designed).
struct KeepCwd {
    std::filesystem::path saved = std::filesystem::current_path();
    ~KeepCwd() { std::filesystem::current_path(saved); }
};

// Sets an environment variable for the life of the object, then restores it.
class ScopedEnv {
public:
    ScopedEnv(const char *name, const std::string &value) : name_(name) {
        if (const char *old = std::getenv(name)) {
            had_ = true;
            old_ = old;
        }
        setenv(name, value.c_str(), 1);
    }
    ~ScopedEnv() {
        if (had_)
            setenv(name_.c_str(), old_.c_str(), 1);
        else
            unsetenv(name_.c_str());
    }

private:
    std::string name_, old_;
    bool had_ = false;
};

}  // namespace vttest
