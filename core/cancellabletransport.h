#pragma once

#include "transport.h"

#include <chrono>

class CCheckCancel;

// A transport whose waits end when the check is cancelled: Receive waits in short slices
// and fails as soon as `cancel` is set, and Send fails once it is set. So a check stuck on
// a silent server (or a huge idle time-out) ends within one slice of the engine's cancel,
// without touching the socket from another thread.
//
// Threads: the check's thread uses it; `cancel` may be set from any thread. Ownership: the
// inner transport and `cancel` must outlive this object.
class CCancellableTransport final : public Transport
{
public:
    static constexpr std::chrono::milliseconds kSlice{200};

    CCancellableTransport(Transport& inner, const CCheckCancel& cancel);

    bool Send(std::string_view bytes) override;
    RecvResult Receive(char* buffer, std::size_t capacity, std::chrono::milliseconds wait) override;
    bool StartTls() override;
    void Close() override;
    bool IsOpen() const override;
    std::string PeerName() const override;

private:
    bool Cancelled() const;

    Transport& inner_;
    const CCheckCancel& cancel_;
};
