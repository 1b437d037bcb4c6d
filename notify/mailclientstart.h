#pragma once

#include <string>

// Starts the mail client from its command line ("MailClientPath"), split the way a shell
// would split it (quotes group words), without waiting for it. False when the command is
// empty or the program cannot be started; callers stay silent about that. The GUI thread
// and any other thread may call it.
bool StartMailClientCommand(const std::string& command);
