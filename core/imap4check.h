#pragma once

#include "protocolcheck.h"

// The IMAP4 check of an account, as CPop3Check but with Imap4Client.
class CImap4Check final : public ProtocolCheck
{
public:
    int Run(const ProtocolCheckParams& params, CEngineSink& sink, int32_t& newCount,
            CCheckCancel& cancel) override;
};
