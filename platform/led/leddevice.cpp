#include "leddevice.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <unistd.h>
#include <vector>

namespace
{

bool EndsWith(const std::string& text, const std::string& tail)
{
    return text.size() >= tail.size() &&
           text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

// A small sysfs attribute: the first line, at most 63 bytes. Empty when unreadable.
std::string ReadAttribute(const std::string& path)
{
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return {};
    char buffer[64];
    ssize_t n;
    do {
        n = ::read(fd, buffer, sizeof buffer - 1);
    } while (n < 0 && errno == EINTR);
    ::close(fd);
    if (n <= 0)
        return {};
    std::string text(buffer, static_cast<size_t>(n));
    return text.substr(0, text.find_first_of("\r\n"));
}

// A sysfs attribute takes the whole value in one write; O_TRUNC keeps a fake folder's plain
// file holding only the last value, and is ignored by sysfs.
void WriteAttribute(const std::string& path, const std::string& value)
{
    int fd = ::open(path.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
    if (fd < 0)
        return;
    const std::string line = value + "\n";
    ssize_t n;
    do {
        n = ::write(fd, line.data(), line.size());
    } while (n < 0 && errno == EINTR);
    ::close(fd);
}

// "max_brightness" as a positive decimal; anything else (missing, garbage, 0) means 1, which
// every LED class driver accepts as "on".
std::string OnValue(const std::string& device)
{
    const std::string text = ReadAttribute(device + "/max_brightness");
    unsigned long value = 0;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size() || value == 0 || value > 1000000)
        return "1";
    return std::to_string(value);
}

} // namespace

CLedDevice::CLedDevice() : root_(DefaultRoot())
{
}

CLedDevice::CLedDevice(std::string root) : root_(std::move(root))
{
}

std::string CLedDevice::DefaultRoot()
{
    const char* root = std::getenv(kRootVariable);
    return root && *root ? root : kDefaultRoot;
}

bool CLedDevice::Open()
{
    open_ = false;
    capabilities_ = 0;
    device_.clear();
    onValue_ = "1";

    // sysfs lists the devices as symbolic links to their folders; follow them.
    std::vector<std::string> names;
    std::error_code ec;
    for (std::filesystem::directory_iterator it(root_, ec), end; !ec && it != end;
         it.increment(ec)) {
        const std::string name = it->path().filename().string();
        std::error_code typeError;
        if (EndsWith(name, ":mail") && std::filesystem::is_directory(it->path(), typeError))
            names.push_back(name);
    }
    if (names.empty())
        return false;
    std::sort(names.begin(), names.end());

    auto writable = [this](const std::string& name) {
        return ::access((root_ + "/" + name + "/brightness").c_str(), W_OK) == 0;
    };
    auto chosen = std::find_if(names.begin(), names.end(), writable);
    const bool canWrite = chosen != names.end();
    device_ = root_ + "/" + (canWrite ? *chosen : names.front());
    open_ = true;
    if (canWrite) {
        capabilities_ = kMailLedBit;
        onValue_ = OnValue(device_);
    }
    return true;
}

int CLedDevice::SetMailLed(uint32_t value)
{
    if (HasMailLed())
        WriteAttribute(device_ + "/brightness", value ? onValue_ : "0");
    return 1;
}
