#pragma once
// A local database is opened by Firebird's embedded engine, which the suite's client library
// (fbclient.dll, beside the updater on Windows) loads from the client's own folder: the engine
// plugins/engine12.dll, the character sets intl/fbintl.dll with intl/fbintl.conf and the ICU
// libraries. Without one of them the engine fails late and in its own words (a missing ICU
// costs seconds of probing before "Could not find acceptable ICU library."); the updater names
// the file before it connects.

#include <functional>
#include <string>

#include "app/Config.h"

// The client library whose folder holds the embedded engine.
inline constexpr char kSuiteClientLibrary[] = "fbclient.dll";

// True when `config` names a database that the client library opens itself: no server (server
// type 0 or an empty server name) and a path that is no connection string ("host:path",
// "host/port:path", "\\host\path", "inet://...").
bool IsLocalDatabase(const CConfig& config);

// What keeps the embedded engine beside the client library in `clientDirectory` from opening a
// local database, in the interface's words: the first of its files that is missing, or a library
// built for another processor or bitness than the client; empty when nothing does.
std::string EmbeddedEngineProblem(const std::string& clientDirectory);

// Connects through `connect`. For a local database, when the suite's client library is in
// `programDirectory` (its own engine is then the one that opens the database), the engine's files
// are checked first: throws std::runtime_error naming what is missing, before any connection.
// A local database that another program holds open (the engine's sharing violation) throws
// std::runtime_error saying so in the interface's words; other errors go on as they came.
void ConnectSuiteDatabase(const CConfig& config, const std::string& programDirectory,
                          const std::function<void()>& connect);
