#include "tools/rar/XadArchive.h"

#include <cmath>
#include <stdexcept>

#include "platform/ChildProcess.h"
#include "platform/SystemError.h"
#include "tools/rar/Json.h"

namespace {

// lsar writes flags as numbers (0 or 1) in some versions and as booleans in others.
bool Flag(const CJsonValue& object, const char* key) {
    const CJsonValue& value = object.Member(key);
    return value.GetKind() == CJsonValue::Kind::Bool ? value.Bool()
                                                     : value.IsNumber() && value.Number() != 0;
}

std::string IntegerText(const CJsonValue& value) {
    return value.IsNumber() ? std::to_string(std::llround(value.Number())) : "?";
}

}  // namespace

ArchiveListing ParseLsarJson(const std::string& json) {
    CJsonValue root;
    try {
        root = CJsonValue::Parse(json);
    } catch (const std::invalid_argument& error) {
        throw CArchiveError(std::string("Cannot read the archive listing: ") + error.what());
    }
    if (!root.IsObject()) {
        throw CArchiveError("Cannot read the archive listing: not an object");
    }
    if (root.Has("lsarError")) {
        throw CArchiveError("The archive cannot be read (error " +
                            IntegerText(root.Member("lsarError")) + ")");
    }
    const CJsonValue& contents = root.Member("lsarContents");
    if (!contents.IsArray()) {
        throw CArchiveError("Cannot read the archive listing: no contents");
    }

    ArchiveListing listing;
    const CJsonValue& format = root.Member("lsarFormatName");
    listing.formatName = format.IsString() ? format.String() : std::string();
    listing.isEncrypted = Flag(root.Member("lsarProperties"), "XADIsEncrypted");
    for (const CJsonValue& object : contents.Items()) {
        const CJsonValue& name = object.Member("XADFileName");
        if (!name.IsString()) {
            throw CArchiveError("Archive entry " + IntegerText(object.Member("XADIndex")) +
                                " has no readable name");
        }
        ArchiveEntry entry;
        entry.name = name.String();
        entry.isDirectory = Flag(object, "XADIsDirectory");
        entry.isLink = Flag(object, "XADIsLink") || Flag(object, "XADIsHardLink") ||
                       Flag(object, "XADIsCharacterDevice") || Flag(object, "XADIsBlockDevice") ||
                       Flag(object, "XADIsFIFO");
        entry.isEncrypted = Flag(object, "XADIsEncrypted");
        const CJsonValue& size = object.Member("XADFileSize");
        // Exact up to 2^53 bytes, far beyond any archive this program extracts.
        if (size.IsNumber() && size.Number() >= 0 && size.Number() < 0x1p53) {
            entry.hasSize = true;
            entry.size = static_cast<uint64_t>(size.Number());
        }
        listing.entries.push_back(std::move(entry));
    }
    return listing;
}

ProgramResult RunProgram(const std::string& program, const std::vector<std::string>& args) {
    std::vector<std::string> commandLine{program};
    commandLine.insert(commandLine.end(), args.begin(), args.end());
    CChildProcess child;
    try {
        child.Start(program, BuildCommandLine(commandLine), std::string(),
                    CChildProcess::Output::Capture);
    } catch (const CSystemError& error) {
        // Reported as the shell reports a program it cannot run.
        return ProgramResult{127, std::string(), error.what()};
    }
    child.Wait();
    return ProgramResult{child.ExitCode(), child.CapturedOutput(), child.CapturedErrors()};
}
