#pragma once

#include <QImage>

// Images of the resource bundle by number: icons, bitmaps, bitmap strips and cursors, all
// with an alpha channel (Format_ARGB32_Premultiplied). Strips that the Windows version masked
// with a key colour (magenta for the header list's strip 312, RGB 192,192,192 for the
// toolbar strips) are already transparent where that colour would have been, so callers
// need no mask.
//
// Every function is thread-safe, needs no QGuiApplication and returns a null QImage when the
// bundle is not loaded, has no such image, or the image's data is damaged past its header
// (the bundle checks the header when it loads; the pictures are decoded on first use).
//
// This part of the resource library needs Qt Gui (target pw_resource_images); the texts,
// menus and toolbars (pw_resources) need Qt Core only.

// The image at its nominal size (16x16 menu and tray images, 32x32 popup bitmaps and toolbar
// squares, 16-pixel-high strips ...).
QImage LoadResourceImage(unsigned id);

// The same image drawn for a device pixel ratio of `scale` (1 or 2): the 2x image is drawn
// from the same vector source at twice the size, not scaled up. Any other scale, or a missing
// 2x drawing, gives the nominal image. The result carries the matching devicePixelRatio.
QImage LoadResourceImage(unsigned id, int scale);

// One button's square from the toolbar's strip for the given look.
enum class ToolbarLook { Normal, Hot, Disabled };
QImage LoadToolbarImage(unsigned toolbarId, unsigned commandId, ToolbarLook look, int scale = 1);
