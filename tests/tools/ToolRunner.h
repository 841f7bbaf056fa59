#pragma once
// Running the built command-line tools from the tests, and looking at what they left behind.

#include <map>
#include <string>
#include <vector>

struct ToolResult {
    int exitCode = -1;  // exit status, or 128 + signal number
    std::string output;
    std::string errors;
};

// Runs `program` with `args` in `currentDirectory`, standard input from /dev/null, both output
// streams captured, and the variables of `environment` set for it.
ToolResult RunTool(const std::string& program, const std::vector<std::string>& args,
                   const std::string& currentDirectory,
                   const std::map<std::string, std::string>& environment = {});

// Every entry below `dir` as relative path -> kind ("file", "dir", "link", "other").
std::map<std::string, std::string> DirectoryTree(const std::string& dir);
