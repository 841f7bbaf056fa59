#include "tests/tools/ToolRunner.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <random>
#include <stdexcept>

#include "tests/support/TestSupport.h"

ToolResult RunTool(const std::string& program, const std::vector<std::string>& args,
                   const std::string& currentDirectory,
                   const std::map<std::string, std::string>& environment) {
    // The streams go to files, which cannot fill up and block the child as pipes could.
    const CTempDir capture;
    const std::string outPath = capture.File("out");
    const std::string errPath = capture.File("err");
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const std::string& arg : args) {
        argv.push_back(const_cast<char*>(arg.c_str()));
    }
    argv.push_back(nullptr);

    const pid_t pid = fork();
    if (pid < 0) {
        throw std::runtime_error("fork failed");
    }
    if (pid == 0) {
        const int in = open("/dev/null", O_RDONLY);
        const int out = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        const int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (in < 0 || out < 0 || err < 0 || dup2(in, 0) < 0 || dup2(out, 1) < 0 ||
            dup2(err, 2) < 0 || chdir(currentDirectory.c_str()) != 0) {
            _exit(126);
        }
        for (const auto& [name, value] : environment) {
            setenv(name.c_str(), value.c_str(), 1);
        }
        execv(program.c_str(), argv.data());
        _exit(127);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    ToolResult result;
    result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    result.output = ReadFile(outPath);
    result.errors = ReadFile(errPath);
    return result;
}

std::map<std::string, std::string> DirectoryTree(const std::string& dir) {
    namespace fs = std::filesystem;
    std::map<std::string, std::string> tree;
    for (auto it = fs::recursive_directory_iterator(dir); it != fs::recursive_directory_iterator();
         ++it) {
        const fs::file_status status = it->symlink_status();
        const std::string kind = fs::is_symlink(status)        ? "link"
                                 : fs::is_directory(status)    ? "dir"
                                 : fs::is_regular_file(status) ? "file"
                                                               : "other";
        tree[it->path().lexically_relative(dir).generic_string()] = kind;
    }
    return tree;
}

std::string RandomBytes(size_t size, unsigned seed) {
    std::mt19937 generator(seed);
    std::string bytes(size, '\0');
    for (char& byte : bytes) {
        byte = static_cast<char>(generator() & 0xFF);
    }
    return bytes;
}
