#pragma once
// The plumbing between db/ and Firebird's C++ interface (firebird/Interface.h): the master
// interface, the throwing status object, the owner of reference-counted interfaces and the
// conversion of the library's exceptions into CDbError. A private header of db/: included by its
// sources (and by the benchmark that measures the installers against the bare interface, and
// the test of the client's texts); the headers the other layers include bring in none of
// Firebird's.

#include <firebird/Interface.h>

#include <string>
#include <utility>

#include "db/DbError.h"

// Dialect 3 is passed to every prepare and execute, and set when a database is created.
constexpr unsigned kSqlDialect = 3;

// The client library's master interface, the one way to fb_get_master_interface: linked on
// Linux (ClientPosix.cpp), loaded at the first call from fbclient.dll on Windows
// (ClientWin32.cpp), where a missing or unsuitable library throws CSystemError naming it.
Firebird::IMaster* FbMaster();
Firebird::IUtil* FbUtil();

// The client library's formatted text in UTF-8, the encoding of every text of the updater. On
// Windows the client writes its own texts in the ANSI code page (a host name it could not find,
// the system's message of a network error, a Windows engine's file names), while the server's
// parts may be UTF-8 (a file name it was sent in UTF-8): each line that is not valid UTF-8 is
// taken in the ANSI code page. Elsewhere the text stays as the client gave it.
std::string ClientTextToUtf8(std::string text);

// A throwing status wrapper that owns its status object.
class CStatus : public Firebird::ThrowStatusWrapper {
  public:
    CStatus() : ThrowStatusWrapper(FbMaster()->getStatus()) {}
    ~CStatus() { dispose(); }
    CStatus(const CStatus&) = delete;
    CStatus& operator=(const CStatus&) = delete;
};

// A parameter block built by the client library's own builder: IXpbBuilder::DPB for an
// attachment, IXpbBuilder::TPB for a transaction.
class CXpb {
  public:
    CXpb(CStatus& status, unsigned kind)
        : m_builder(FbUtil()->getXpbBuilder(&status, kind, nullptr, 0)) {}
    ~CXpb() { m_builder->dispose(); }
    CXpb(const CXpb&) = delete;
    CXpb& operator=(const CXpb&) = delete;
    Firebird::IXpbBuilder* operator->() const { return m_builder; }

  private:
    Firebird::IXpbBuilder* m_builder;
};

// Owns one reference of a reference-counted interface and releases it when it goes. Releasing
// the last reference of a statement, cursor or blob also frees it in the engine.
template <typename T>
class CRef {
  public:
    explicit CRef(T* handle = nullptr) : m_handle(handle) {}
    ~CRef() { Reset(); }
    CRef(CRef&& other) noexcept : m_handle(other.Release()) {}
    CRef& operator=(CRef&& other) noexcept {
        Reset(other.Release());
        return *this;
    }
    CRef(const CRef&) = delete;
    CRef& operator=(const CRef&) = delete;

    T* Get() const { return m_handle; }
    T* operator->() const { return m_handle; }
    explicit operator bool() const { return m_handle != nullptr; }
    // Gives the reference up, for calls such as close() that release the interface themselves.
    T* Release() { return std::exchange(m_handle, nullptr); }
    void Reset(T* handle = nullptr) {
        if (m_handle) {
            m_handle->release();
        }
        m_handle = handle;
    }

  private:
    T* m_handle;
};

// The error that a failed call left in `status`: its formatted text and its error codes.
CDbError ToDbError(Firebird::IStatus* status);

// Calls `body`, turning the client library's exceptions into CDbError.
template <typename Body>
auto Guard(Body&& body) -> decltype(body()) {
    try {
        return body();
    } catch (const Firebird::FbException& e) {
        throw ToDbError(e.getStatus());
    }
}

// Calls `end` on `handle`: one of the calls that end an interface and release it when they
// succeed (detach, rollback, cancel). When the call fails, the reference is released here, since
// nothing more can be done with it, and the error goes on as CDbError.
template <typename T, typename End>
void EndInterface(T* handle, End&& end) {
    try {
        CStatus status;
        end(handle, status);
    } catch (const Firebird::FbException& e) {
        handle->release();
        throw ToDbError(e.getStatus());
    }
}
