#include "tools/rar/XadArchive.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>

#include "platform/ChildProcess.h"
#include "platform/SystemError.h"

namespace {

bool Flag(const QJsonObject& object, const char* key) {
    const QJsonValue value = object.value(QLatin1String(key));
    return value.isBool() ? value.toBool() : value.toInteger() != 0;
}

}  // namespace

XadListing ParseLsarJson(const std::string& json) {
    QJsonParseError parseError{};
    const QJsonDocument document =
        QJsonDocument::fromJson(QByteArray::fromStdString(json), &parseError);
    if (document.isNull() || !document.isObject()) {
        throw CArchiveError("Cannot read the archive listing: " +
                            parseError.errorString().toStdString());
    }
    const QJsonObject root = document.object();
    if (root.contains(QLatin1String("lsarError"))) {
        throw CArchiveError("The archive cannot be read (error " +
                            std::to_string(root.value(QLatin1String("lsarError")).toInteger()) +
                            ")");
    }
    const QJsonValue contents = root.value(QLatin1String("lsarContents"));
    if (!contents.isArray()) {
        throw CArchiveError("Cannot read the archive listing: no contents");
    }

    XadListing listing;
    listing.formatName = root.value(QLatin1String("lsarFormatName")).toString().toStdString();
    listing.isEncrypted =
        Flag(root.value(QLatin1String("lsarProperties")).toObject(), "XADIsEncrypted");
    for (const QJsonValue& item : contents.toArray()) {
        const QJsonObject object = item.toObject();
        const QJsonValue name = object.value(QLatin1String("XADFileName"));
        if (!name.isString()) {
            throw CArchiveError(
                "Archive entry " +
                std::to_string(object.value(QLatin1String("XADIndex")).toInteger()) +
                " has no readable name");
        }
        XadEntry entry;
        entry.name = name.toString().toStdString();
        entry.isDirectory = Flag(object, "XADIsDirectory");
        entry.isLink = Flag(object, "XADIsLink") || Flag(object, "XADIsHardLink") ||
                       Flag(object, "XADIsCharacterDevice") || Flag(object, "XADIsBlockDevice") ||
                       Flag(object, "XADIsFIFO");
        entry.isEncrypted = Flag(object, "XADIsEncrypted");
        const QJsonValue size = object.value(QLatin1String("XADFileSize"));
        if (size.isDouble() && size.toDouble() >= 0) {
            entry.hasSize = true;
            entry.size = static_cast<uint64_t>(size.toInteger());
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
