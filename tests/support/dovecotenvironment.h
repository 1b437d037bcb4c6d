#pragma once

#include "component.h"
#include "dovecotfixture.h"

#include <gtest/gtest.h>
#include <string>

// One Dovecot for a whole test binary (it takes half a second to start), started by the
// first Get() and stopped when the tests end. Register it once:
//     ::testing::AddGlobalTestEnvironment(new DovecotEnvironment);
// (gtest owns and deletes it), then in tests:
//     DovecotFixture* dovecot = DovecotEnvironment::Get();
//     if (dovecot == nullptr)
//         GTEST_SKIP() << MissingComponent("Dovecot", DovecotEnvironment::Why());
// (a skip on a developer's machine, a failure under CI: component.h)
class DovecotEnvironment : public ::testing::Environment
{
public:
    void SetUp() override;
    void TearDown() override;
    // The running fixture, started now if need be; null when Dovecot could not start.
    static DovecotFixture* Get();
    static const std::string& Why();
};
