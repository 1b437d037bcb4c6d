#pragma once

#include "protocolcheck.h"

// The POP3 check of an account: connects (implicit TLS when the account's security choice
// or port asks for it), then runs Pop3Client over a transport that the engine can cancel.
// Stateless; one object serves any number of checks at once.
class CPop3Check final : public ProtocolCheck
{
public:
    int Run(const ProtocolCheckParams& params, CEngineSink& sink, int32_t& newCount,
            CCheckCancel& cancel) override;
};
