// Starts a program with its output in two files, from a test process that
// runs servers on threads of its own.
#pragma once

#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <map>
#include <string>
#include <vector>

namespace vttest {

// The environment is this process's with env applied ("" value: unset).
// Everything the child needs is made before the fork: another thread may
// hold the allocator's lock at that moment, and a child that allocated
// would wait for it forever.
// file_size_limit (bytes) is the child's RLIMIT_FSIZE, as "ulimit -f" sets it.
inline pid_t Spawn(const std::vector<std::string> &args, const std::map<std::string, std::string> &env,
                   const std::string &outPath, const std::string &errPath, rlim_t file_size_limit = RLIM_INFINITY) {
    std::vector<std::string> environment;
    for (char **e = environ; *e; ++e) {
        const std::string entry(*e);
        if (!env.count(entry.substr(0, entry.find('=')))) environment.push_back(entry);
    }
    for (const auto &[k, v] : env)
        if (!v.empty()) environment.push_back(k + "=" + v);
    std::vector<char *> argv, envp;
    for (const auto &a : args) argv.push_back(const_cast<char *>(a.c_str()));
    argv.push_back(nullptr);
    for (auto &e : environment) envp.push_back(e.data());
    envp.push_back(nullptr);
    pid_t pid = fork();
    if (pid == 0) {
        int out = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        if (out < 0 || err < 0 || dup2(out, 1) < 0 || dup2(err, 2) < 0) _exit(126);
        if (file_size_limit != RLIM_INFINITY) {
            struct rlimit limit = {file_size_limit, file_size_limit};
            if (setrlimit(RLIMIT_FSIZE, &limit) != 0) _exit(126);
        }
        execve(argv[0], argv.data(), envp.data());
        _exit(127);
    }
    return pid;
}

}  // namespace vttest
