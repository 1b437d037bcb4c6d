#include "resourceimage.h"

#include "resourcebundle.h"

QImage LoadResourceImage(unsigned id)
{
    return LoadResourceImage(id, 1);
}

QImage LoadResourceImage(unsigned id, int scale)
{
    const auto bundle = ResourceBundle::Current();
    if (!bundle)
        return {};
    if (scale == 2) {
        const auto big = bundle->images2x.find(id);
        if (big != bundle->images2x.end()) {
            QImage image = big->second;
            image.setDevicePixelRatio(2.0);
            return image;
        }
    }
    const auto it = bundle->images.find(id);
    return it == bundle->images.end() ? QImage() : it->second;
}

QImage LoadToolbarImage(unsigned toolbarId, unsigned commandId, ToolbarLook look, int scale)
{
    const auto bundle = ResourceBundle::Current();
    if (!bundle)
        return {};
    const auto toolbar = bundle->toolbars.find(toolbarId);
    if (toolbar == bundle->toolbars.end())
        return {};
    const ToolbarTemplate& bar = toolbar->second;
    const int index = bar.ImageIndex(commandId);
    if (index < 0)
        return {};
    const unsigned strip = look == ToolbarLook::Hot        ? bar.hotBitmap
                           : look == ToolbarLook::Disabled ? bar.disabledBitmap
                                                           : bar.normalBitmap;
    const QImage image = LoadResourceImage(strip, scale);
    if (image.isNull())
        return {};
    // The strip may be the 2x drawing; cut in device pixels.
    const int side = image.height();
    if (side <= 0 || (index + 1) * side > image.width())
        return {};
    QImage square = image.copy(index * side, 0, side, side);
    square.setDevicePixelRatio(image.devicePixelRatio());
    return square;
}
