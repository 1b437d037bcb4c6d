#include "cancellabletransport.h"

#include "checkcancel.h"
#include "neterror.h"

#include <algorithm>

CCancellableTransport::CCancellableTransport(Transport& inner, const CCheckCancel& cancel)
    : inner_(inner), cancel_(cancel)
{
}

bool CCancellableTransport::Cancelled() const
{
    if (!cancel_.IsCancelled())
        return false;
    SetNetError(neterr::kSocket, NetCategory::Failed, "the check was cancelled");
    return true;
}

bool CCancellableTransport::Send(std::string_view bytes)
{
    return !Cancelled() && inner_.Send(bytes);
}

Transport::RecvResult CCancellableTransport::Receive(char* buffer, std::size_t capacity,
                                                     std::chrono::milliseconds wait)
{
    const auto deadline = std::chrono::steady_clock::now() + wait;
    for (;;) {
        if (Cancelled())
            return {RecvStatus::Failed, 0};
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        const auto slice = std::clamp(left, std::chrono::milliseconds(0), kSlice);
        RecvResult r = inner_.Receive(buffer, capacity, slice);
        if (r.status != RecvStatus::TimedOut || slice >= left)
            return r;
    }
}

bool CCancellableTransport::StartTls()
{
    return !Cancelled() && inner_.StartTls();
}

void CCancellableTransport::Close()
{
    inner_.Close();
}

bool CCancellableTransport::IsOpen() const
{
    return inner_.IsOpen();
}

std::string CCancellableTransport::PeerName() const
{
    return inner_.PeerName();
}
