#pragma once

#include "networkbackend.h"

#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <span>
#include <string>
#include <vector>

// Network availability and dial-up for the checking engine: the test the worker runs
// before it starts a due check (EnsureNetwork), the entry list for the settings dialog,
// dialling and hanging up.
//
// Connections handed to the worker are small non-zero numbers (a handle, kept in the
// account row's connectionHandle); 0 is "none". The same system connection always gets the
// same handle while this object knows it, so two checks that adopted one existing dial-up
// connection hold equal handles, and the worker hangs it up only after both are over.
// A handle is forgotten when it is hung up.
//
// Threads: the worker thread calls EnsureNetwork and HangUp; both may block for a long time
// (dialling, waiting for the release), so the worker calls them without its table lock.
// The handle table is locked, so other calls may come from any thread, but the backend is
// used by one thread at a time: the settings dialog lists entries with an object of its own.
class DialupLink
{
public:
    // The "Network" settings used here, as stored (texts; switches "1"/"0"). The caller
    // reads them fresh for every test, so a change in the settings dialog counts at once.
    struct Settings {
        std::string useConnection;        // "1" always online, "3" dial-up, else the system decides
        std::string dialupEntry;          // entry to dial
        std::string autoHangupAfterCheck; // "1": hang up after the checks
        std::string useExistDialup;       // "1": adopt a dial-up connection already up
    };

    // Receives the text of a dialling failure, to be shown to the user (the engine sends it
    // to the front as a text to show). Called on the thread that dials.
    using ShowText = std::function<void(const std::string& text)>;

    // `backend` must outlive this object. `showText` may be empty (texts are dropped).
    DialupLink(NetworkBackend& backend, ShowText showText);

    // The test before checks: 1 when the checks may go ahead, 0 when not. `*connectionHandle`
    // becomes the connection to hang up after the checks, or 0.
    //  - UseConnection "1": 1 at once; the network is not looked at.
    //  - Network up: 1. When only a dial-up connection is up (WAN and no LAN), UseConnection
    //    is "3" and UseExistDialup and AutoHangupAfterCheck are both "1", an existing dial-up
    //    connection is handed over.
    //  - Network down: with UseConnection "3" DialupEntry is dialled; on success 1, and the
    //    new connection is handed over when AutoHangupAfterCheck is "1" (else it stays up and
    //    is forgotten). Otherwise 0; a failed dial shows its text, an unknown entry nothing.
    int EnsureNetwork(const Settings& settings, int64_t* connectionHandle);

    // The entries the user can choose to dial; empty when there are none or on failure.
    std::vector<std::string> ListEntries();

    // Dials `entry`: 1 with the new connection's handle in `*handle`, or 0 (*handle 0). A
    // failure after dialling began shows its text and leaves nothing half-open.
    int DialEntry(const std::string& entry, int64_t* handle);

    // 1 with the handle of a dial-up connection that is up, or 0 (*handle 0).
    int FindConnectedDialup(int64_t* handle);

    // Takes the connection down and waits, bounded, until it is released. 0 and unknown
    // handles do nothing. The handle is forgotten either way.
    void HangUp(int64_t handle);

    // The system's name of a handle's connection; "" when unknown.
    std::string ConnectionOf(int64_t handle) const;

    // The worker's rule for a finished check's row: hang up `handle` only when it is a
    // connection, no other row holds it, and no check is requested or running.
    static bool MayHangUp(int64_t handle, std::span<const int64_t> otherRowHandles,
                          bool anyRequested, bool anyBusy);

private:
    int64_t HandleFor(const std::string& connection);
    void Forget(int64_t handle);

    NetworkBackend& backend_;
    ShowText showText_;
    mutable std::mutex mutex_;
    std::map<int64_t, std::string> connections_;
    int64_t nextHandle_ = 1;
};
