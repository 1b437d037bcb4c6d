#include "resourcebundle.h"

#include "rccarchive.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <mutex>

namespace
{

// Our largest image is a toolbar strip of eight 64-pixel squares.
constexpr quint32 kMaxImageSide = 2048;

std::mutex g_currentLock;
std::shared_ptr<const ResourceBundle> g_current;

bool StartsWith(const std::string& text, const char* prefix)
{
    return text.rfind(prefix, 0) == 0;
}

// "<prefix><number><suffix>" -> number; false for any other name.
bool NumberedName(const std::string& path, const char* prefix, const char* suffix, unsigned* id)
{
    const std::string tail = path.substr(std::char_traits<char>::length(prefix));
    const std::size_t suffixLength = std::char_traits<char>::length(suffix);
    if (tail.size() <= suffixLength ||
        tail.compare(tail.size() - suffixLength, suffixLength, suffix) != 0)
        return false;
    const std::string number = tail.substr(0, tail.size() - suffixLength);
    if (number.empty() || number.size() > 5 ||
        number.find_first_not_of("0123456789") != std::string::npos)
        return false;
    const unsigned long value = std::stoul(number);
    if (value == 0 || value > 65535)
        return false;
    *id = unsigned(value);
    return true;
}

// The PNG signature and the IHDR chunk that must follow it (PNG 1.2, sections 3.1 and 4.1.1):
// enough to refuse a file that is no PNG, or one that declares an enormous picture, without
// decoding it.
bool PngSize(const QByteArray& bytes, quint32* width, quint32* height)
{
    static const char kSignature[] = "\x89PNG\r\n\x1a\n";
    if (bytes.size() < 24 || !bytes.startsWith(QByteArray::fromRawData(kSignature, 8)) ||
        bytes.mid(12, 4) != "IHDR")
        return false;
    auto be32 = [&](int at) {
        quint32 value = 0;
        for (int i = 0; i < 4; ++i)
            value = (value << 8) | quint8(bytes[at + i]);
        return value;
    };
    if (be32(8) != 13)
        return false;
    *width = be32(16);
    *height = be32(20);
    return *width > 0 && *height > 0;
}

bool CheckMarker(const RccArchive& archive, std::string* error)
{
    const QByteArray* marker = archive.Find(ResourceBundle::kMarkerPath);
    if (!marker) {
        *error = "it is not a Postwatch resource bundle (it has no " +
                 std::string(ResourceBundle::kMarkerPath) + ")";
        return false;
    }
    const QJsonObject object = QJsonDocument::fromJson(*marker).object();
    if (object.value("format").toString() != QLatin1String(ResourceBundle::kFormatName)) {
        *error = "it is not a Postwatch resource bundle (its " +
                 std::string(ResourceBundle::kMarkerPath) + " names another format)";
        return false;
    }
    const int version = object.value("version").toInt(-1);
    if (version != ResourceBundle::kFormatVersion) {
        *error = "its bundle format version " + std::to_string(version) +
                 " is not the supported version " + std::to_string(ResourceBundle::kFormatVersion);
        return false;
    }
    return true;
}

} // namespace

std::shared_ptr<const ResourceBundle> ResourceBundle::Build(const RccArchive& archive,
                                                            std::string* error)
{
    if (!CheckMarker(archive, error))
        return nullptr;
    auto bundle = std::make_shared<ResourceBundle>();
    const QByteArray* strings = archive.Find(kStringsPath);
    if (!strings) {
        *error = std::string("it has no string table ") + kStringsPath;
        return nullptr;
    }
    if (!bundle->strings.Parse(*strings, kStringsPath, error))
        return nullptr;

    for (const auto& [path, bytes] : archive.Files()) {
        unsigned id = 0;
        if (StartsWith(path, kImagePrefix)) {
            const bool big = NumberedName(path, kImagePrefix, "@2x.png", &id);
            if (!big && !NumberedName(path, kImagePrefix, ".png", &id)) {
                *error = "the image \"" + path + "\" is not named <number>.png";
                return nullptr;
            }
            // A small file can declare an enormous picture: its header says.
            quint32 width = 0;
            quint32 height = 0;
            if (!PngSize(bytes, &width, &height)) {
                *error = "the image \"" + path + "\" cannot be decoded as PNG";
                return nullptr;
            }
            if (width > kMaxImageSide || height > kMaxImageSide) {
                *error = "the image \"" + path + "\" is larger than " +
                         std::to_string(kMaxImageSide) + " pixels on a side";
                return nullptr;
            }
            (big ? bundle->images2x : bundle->images)[id] = bytes;
        } else if (StartsWith(path, kMenuPrefix)) {
            MenuTemplate menu;
            if (!NumberedName(path, kMenuPrefix, ".json", &id)) {
                *error = "the menu \"" + path + "\" is not named <number>.json";
                return nullptr;
            }
            if (!MenuTemplate::Parse(bytes, path, &menu, error))
                return nullptr;
            if (menu.id != id) {
                *error = path + ": its \"id\" " + std::to_string(menu.id) +
                         " does not match its file name";
                return nullptr;
            }
            bundle->menus[id] = std::move(menu);
        } else if (StartsWith(path, kToolbarPrefix)) {
            ToolbarTemplate toolbar;
            if (!NumberedName(path, kToolbarPrefix, ".json", &id)) {
                *error = "the toolbar \"" + path + "\" is not named <number>.json";
                return nullptr;
            }
            if (!ToolbarTemplate::Parse(bytes, path, &toolbar, error))
                return nullptr;
            if (toolbar.id != id) {
                *error = path + ": its \"id\" " + std::to_string(toolbar.id) +
                         " does not match its file name";
                return nullptr;
            }
            bundle->toolbars[id] = std::move(toolbar);
        }
    }
    return bundle;
}

std::shared_ptr<const ResourceBundle> ResourceBundle::Current()
{
    std::lock_guard<std::mutex> lock(g_currentLock);
    return g_current;
}

void ResourceBundle::SetCurrent(std::shared_ptr<const ResourceBundle> bundle)
{
    std::shared_ptr<const ResourceBundle> old;
    {
        std::lock_guard<std::mutex> lock(g_currentLock);
        old = std::exchange(g_current, std::move(bundle));
    }
    // `old` is released here, outside the lock: freeing a bundle takes a moment.
}
