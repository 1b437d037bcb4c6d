#pragma once

#include <QByteArray>
#include <string>
#include <vector>

// A toolbar template of the resource bundle (the main window's toolbar is 128).
//
// Buttons are in display order; a separator has command id 0 and no image. The images of the
// buttons are one horizontal strip per look (normal, hot, disabled), one square of
// `imageSize` pixels per button that is not a separator, in button order;
// LoadToolbarImage() cuts a button's square out of them.
struct ToolbarButton {
    unsigned commandId = 0; // 0 = separator
    unsigned textId = 0;    // the numbered text shown under the button, 0 = none
};

struct ToolbarTemplate {
    unsigned id = 0;
    int imageSize = 0;
    unsigned normalBitmap = 0;
    unsigned hotBitmap = 0;
    unsigned disabledBitmap = 0;
    std::vector<ToolbarButton> buttons;

    bool IsNull() const { return buttons.empty(); }
    // Index of the command's image in the strips, or -1 when the toolbar has no such button.
    int ImageIndex(unsigned commandId) const;

    // Parses the JSON form kept in the bundle:
    //   {"id": 128, "imageSize": 32, "bitmaps": {"normal": 413, "hot": 412, "disabled": 414},
    //    "buttons": [{"command": 32809, "text": 61408}, {"separator": true}, ...]}
    static bool Parse(const QByteArray& json, const std::string& fileName, ToolbarTemplate* out,
                      std::string* error);
};

// The toolbar template `id`; a null template when the bundle is not loaded or has none.
// Thread-safe.
ToolbarTemplate LoadToolbarTemplate(unsigned id);
