#pragma once

// The main window's view settings that are remembered between runs, kept in the settings
// store under the program key's "Settings" (ProgramKey::Path("Settings")), beside the header
// list's "MailHeaderList":
// - "PreviewPane" (DWORD): 1 shows the preview pane under the header list, 0 hides it. A
//   missing or unreadable value (a first start, a hand-edited text) counts as shown.
//
// Threads: any; one CRegistryKey per call.
class ViewProfile
{
public:
    static constexpr bool kPreviewPaneDefault = true;

    static bool PreviewPaneShown();
    // Creates the key when it is missing. False when the store cannot be written (the
    // window still shows what the user chose; only the next start will not remember it).
    static bool SetPreviewPaneShown(bool shown);
};
