#include "dialoguebox.h"

#include "printabletext.h"

#include <cstdio>
#include <mutex>

namespace
{

std::mutex g_mutex;
std::shared_ptr<DialogueBackend> g_backend;

std::shared_ptr<DialogueBackend> CurrentBackend()
{
    std::lock_guard lock(g_mutex);
    if (!g_backend)
        g_backend = std::make_shared<HeadlessDialogueBackend>();
    return g_backend;
}

const char* IconWord(int icon)
{
    switch (icon) {
    case kDialogueIconStop:
        return "error";
    case kDialogueIconQuestion:
        return "question";
    case kDialogueIconExclamation:
        return "warning";
    case kDialogueIconInformation:
        return "note";
    default:
        return "message";
    }
}

} // namespace

int HeadlessDialogueBackend::Show(const std::string& text, const std::string& caption, void*,
                                  int buttons, int icon)
{
    // Texts may quote a server or a message: no control character reaches the terminal.
    std::fprintf(stderr, "postwatch: %s: %s: %s\n", IconWord(icon), PrintableText(caption).c_str(),
                 PrintableText(text).c_str());
    if (answer_ != 0)
        return answer_;
    return buttons == kDialogueRetryCancel ? kDialogueIdRetry : kDialogueIdOk;
}

int DialogueBox(const std::string& text, const std::string& caption, void* owner, int buttons,
                int icon)
{
    // Hold a reference so a concurrent SetDialogueBackend cannot destroy it mid-call.
    std::shared_ptr<DialogueBackend> backend = CurrentBackend();
    return backend->Show(text, caption, owner, buttons, icon);
}

void SetDialogueBackend(std::shared_ptr<DialogueBackend> backend)
{
    std::lock_guard lock(g_mutex);
    g_backend = std::move(backend);
}
