// The client library is linked (libfbclient): its master interface is at hand.

#include <langinfo.h>

#include <atomic>
#include <clocale>
#include <cstring>

#include "db/Client.h"

namespace {

// The client library turns SIGINT and SIGTERM into a shutdown of every attachment of the
// process, which would end the statement in hand with "connection shutdown" and leave the
// update no chance to say that it was interrupted. Refused: the program's own handler takes the
// signal, and the run ends itself at its next step.
int RefuseShutdownOnSignal(const int reason, const int /*mask*/, void* /*argument*/) {
    return reason == fb_shutrsn_signal ? 1 : 0;  // non-zero refuses the shutdown
}

// Firebird 3's engine, when an attachment was ended by another connection (deleted from
// MON$ATTACHMENTS, or its database shut down), purges it on a thread of its own. When it was the
// last attachment of its database, the purge destroys the database, and when nothing else uses
// the engine that releases the engine's plugin: the client unloads the engine's library while
// the engine's thread still runs in it, and the process crashes, at once or at its exit. So the
// engine's provider is held from the client's first use. The client's shutdown (at the
// program's exit, or when a plugin unloaded by the exit calls it) waits until every provider is
// let go, so the hold ends in its first step: the engine ends its attachments and its threads,
// and then goes. (The Windows engine keeps its library loaded on such threads itself.)
std::atomic<Firebird::IProvider*> g_heldEngine{nullptr};

// Firebird 3's engine plugin, as firebird.conf's Providers names it.
constexpr char kEnginePlugin[] = "Engine12";

// A status that keeps errors instead of throwing them: for the calls made while FbMaster sets
// the client up (CStatus would ask FbMaster) and in the client's callbacks, which no exception
// may leave.
class CCheckingStatus : public Firebird::CheckStatusWrapper {
  public:
    explicit CCheckingStatus(Firebird::IMaster* master) : CheckStatusWrapper(master->getStatus()) {}
    ~CCheckingStatus() { dispose(); }
    CCheckingStatus(const CCheckingStatus&) = delete;
    CCheckingStatus& operator=(const CCheckingStatus&) = delete;
};

int ReleaseHeldEngine(const int reason, const int /*mask*/, void* argument) {
    Firebird::IProvider* const engine = g_heldEngine.exchange(nullptr);
    if (engine == nullptr) {
        return 0;
    }
    auto* const master = static_cast<Firebird::IMaster*>(argument);
    {
        CCheckingStatus status(master);
        engine->shutdown(&status, 0, reason);  // an error leaves nothing else to do here
    }
    master->getPluginManager()->releasePlugin(engine);
    return 0;
}

void HoldEmbeddedEngine(Firebird::IMaster* const master) {
    Firebird::IProvider* engine = nullptr;
    {
        CCheckingStatus status(master);
        Firebird::IPluginSet* const engines = master->getPluginManager()->getPlugins(
            &status, Firebird::IPluginManager::TYPE_PROVIDER, kEnginePlugin, nullptr);
        if (engines == nullptr) {
            return;
        }
        engine = static_cast<Firebird::IProvider*>(engines->getPlugin(&status));
        engines->release();
    }
    if (engine == nullptr) {
        return;  // no engine installed: the client only reaches servers
    }
    g_heldEngine = engine;
    ISC_STATUS_ARRAY vector{};
    fb_shutdown_callback(vector, ReleaseHeldEngine, fb_shut_preproviders, master);
}

// The client converts database file names from the character set of the locale, and ours are
// UTF-8 bytes. In the C locale (a service, cron, a bare shell) the letters of a Cyrillic path
// would be dropped and another file named, so the character type follows the environment's
// locale, or C.UTF-8 when that is not UTF-8, as Qt does for the window. Only LC_CTYPE: numbers
// and messages keep the C locale.
// A window's toolkit has made it UTF-8 already, and is left alone.
void UseUtf8FileNames() {
    if (std::strcmp(nl_langinfo(CODESET), "UTF-8") != 0) {
        std::setlocale(LC_CTYPE, "");
        if (std::strcmp(nl_langinfo(CODESET), "UTF-8") != 0) {
            std::setlocale(LC_CTYPE, "C.UTF-8");
        }
    }
}

Firebird::IMaster* LoadMaster() {
    UseUtf8FileNames();
    Firebird::IMaster* const master = Firebird::fb_get_master_interface();
    ISC_STATUS_ARRAY status{};
    fb_shutdown_callback(status, RefuseShutdownOnSignal, fb_shut_confirmation, nullptr);
    HoldEmbeddedEngine(master);
    return master;
}

}  // namespace

std::string ClientTextToUtf8(std::string text) {
    return text;
}

Firebird::IMaster* FbMaster() {
    static Firebird::IMaster* const master = LoadMaster();
    return master;
}
