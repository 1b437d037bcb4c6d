#include "dovecotenvironment.h"

#include <memory>

namespace
{
std::unique_ptr<DovecotFixture> g_fixture;
std::string g_why = "the Dovecot environment was not registered";
} // namespace

namespace
{
bool g_tried = false;
}

void DovecotEnvironment::SetUp()
{
    g_why = "Dovecot has not been started";
}

void DovecotEnvironment::TearDown()
{
    g_fixture.reset();
    g_tried = false;
}

DovecotFixture* DovecotEnvironment::Get()
{
    // Started on first use: ctest runs each test in a process of its own, and most of them
    // never need Dovecot.
    if (!g_tried) {
        g_tried = true;
        g_fixture = std::make_unique<DovecotFixture>();
        if (g_fixture->Start()) {
            g_why.clear();
        } else {
            g_why = "Dovecot did not start: " + g_fixture->Error();
            g_fixture.reset();
        }
    }
    return g_fixture.get();
}

const std::string& DovecotEnvironment::Why()
{
    return g_why;
}
