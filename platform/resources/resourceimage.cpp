#include "resourceimage.h"

#include "resourcebundle.h"

#include <map>
#include <mutex>
#include <utility>

namespace
{

// The bundle keeps its images as PNG files; each is decoded once, on first use, for the
// bundle that is current then. A reload starts a fresh cache. QImage copies are implicitly
// shared with atomic reference counts, so handing them out to several threads is safe.
std::mutex g_cacheLock;
std::weak_ptr<const ResourceBundle> g_cachedBundle;
std::map<std::pair<unsigned, bool>, QImage> g_cache;

// Null when `bundle` has no such image, or its bytes do not decode.
QImage Decoded(const std::shared_ptr<const ResourceBundle>& bundle, unsigned id, bool big)
{
    const auto& files = big ? bundle->images2x : bundle->images;
    const auto file = files.find(id);
    if (file == files.end())
        return {};
    std::lock_guard<std::mutex> lock(g_cacheLock);
    if (g_cachedBundle.lock() != bundle) {
        g_cache.clear();
        g_cachedBundle = bundle;
    }
    const auto key = std::make_pair(id, big);
    const auto cached = g_cache.find(key);
    if (cached != g_cache.end())
        return cached->second;
    QImage image = QImage::fromData(file->second, "PNG");
    if (!image.isNull())
        image = image.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    g_cache[key] = image;
    return image;
}

} // namespace

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
        QImage image = Decoded(bundle, id, true);
        if (!image.isNull()) {
            image.setDevicePixelRatio(2.0);
            return image;
        }
    }
    return Decoded(bundle, id, false);
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
