#pragma once

#include <QPlainTextEdit>
#include <QTimer>
#include <string>

class CMailHeadList;

// The preview pane under the header list: the stored body preview of the one message
// selected in the list, read only. The preview is UTF-8 as the check decoded it (transfer
// encoding undone, converted from its charset) and is shown as plain text: a preview that
// holds markup shows the markup, nothing of a message is ever interpreted here. The pane is
// empty while no message or several are selected.
//
// Follow() ties it to a list: the preview is read again when the selection, the rows or the
// shown account change. The read waits for the next turn of the event loop, so a key held
// down over thousands of rows reads Message.box once per pause, not once per row, and it
// happens only while the pane is visible (showing it reads at once).
//
// Threads: the user-interface thread only.
class CPreviewPane : public QPlainTextEdit
{
    Q_OBJECT

public:
    explicit CPreviewPane(QWidget* parent = nullptr);

    // `list` must outlive the pane.
    void Follow(CMailHeadList* list);
    // Shows a stored preview (see DisplayText).
    void ShowPreview(const std::string& preview);
    // Reads the selected message's preview now (what the deferred read does).
    void Refresh();

    // The text shown for a stored preview: bytes that are not UTF-8 become U+FFFD, line ends
    // (CR LF, CR) become line feeds, and control characters other than tab and line feed
    // become U+FFFD, so that nothing from a message moves the text around or hides in it.
    static QString DisplayText(const std::string& preview);

protected:
    void showEvent(QShowEvent* event) override;

private:
    void RefreshLater();

    CMailHeadList* list_ = nullptr;
    QTimer refresh_;
};
