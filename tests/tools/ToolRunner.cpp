#include "tests/tools/ToolRunner.h"

#include <cstdlib>
#include <filesystem>
#include <optional>

#include "platform/ChildProcess.h"

namespace {

// Sets environment variables for the processes started while it lives, then restores them.
class CScopedEnvironment {
  public:
    explicit CScopedEnvironment(const std::map<std::string, std::string>& variables) {
        for (const auto& [name, value] : variables) {
            const char* old = std::getenv(name.c_str());
            m_saved.emplace_back(name,
                                 old != nullptr ? std::optional<std::string>(old) : std::nullopt);
            setenv(name.c_str(), value.c_str(), 1);
        }
    }
    ~CScopedEnvironment() {
        for (const auto& [name, value] : m_saved) {
            if (value) {
                setenv(name.c_str(), value->c_str(), 1);
            } else {
                unsetenv(name.c_str());
            }
        }
    }
    CScopedEnvironment(const CScopedEnvironment&) = delete;
    CScopedEnvironment& operator=(const CScopedEnvironment&) = delete;

  private:
    std::vector<std::pair<std::string, std::optional<std::string>>> m_saved;
};

}  // namespace

ToolResult RunTool(const std::string& program, const std::vector<std::string>& args,
                   const std::string& currentDirectory,
                   const std::map<std::string, std::string>& environment) {
    std::vector<std::string> commandLine{program};
    commandLine.insert(commandLine.end(), args.begin(), args.end());
    CChildProcess child;
    {
        const CScopedEnvironment scoped(environment);
        child.Start(program, BuildCommandLine(commandLine), currentDirectory,
                    CChildProcess::Output::Capture);
    }
    child.Wait();
    return ToolResult{child.ExitCode(), child.CapturedOutput(), child.CapturedErrors()};
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
