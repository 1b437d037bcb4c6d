#pragma once

#include <string>

// A new `MessageId`: a random (version 4) UUID in its 36-character text form, lower case,
// without braces ("1b4e28ba-2fa1-4d2e-883f-0016d3cca427"). It names one stored message in
// Message.box for the life of that record.
//
// Thread-safe. The bytes come from the kernel's random source (getrandom); should that ever
// fail, the kernel's own UUID generator is read instead, and as a last resort a counter
// mixed with the clock keeps the ids of this process distinct.
std::string MessageId();
