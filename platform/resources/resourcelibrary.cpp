#include "resourcelibrary.h"

#include "apppaths.h"
#include "rccarchive.h"
#include "resourcebundle.h"

#include <QFile>
#include <QFileInfo>

namespace
{

// Our bundle is well under a megabyte; a file far larger than this is not ours, and reading
// it whole would only waste memory before failing.
constexpr qint64 kMaxBundleBytes = 64 * 1024 * 1024;

} // namespace

bool ResourceLibrary::Load(const std::string& path, std::string* error)
{
    std::string why;
    auto fail = [&](const std::string& reason) {
        if (error)
            *error = "Cannot load the resource bundle \"" + path + "\": " + reason;
        return false;
    };
    QFile file(QString::fromStdString(path));
    const QFileInfo info(file);
    if (!info.exists())
        return fail("the file does not exist");
    if (info.isDir())
        return fail("it is a folder, not a file");
    if (!file.open(QIODevice::ReadOnly))
        return fail(file.errorString().toStdString());
    if (file.size() > kMaxBundleBytes)
        return fail("the file is larger than 64 MiB, so it is not a resource bundle");
    const QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError)
        return fail("reading failed: " + file.errorString().toStdString());

    RccArchive archive;
    if (!archive.Parse(bytes, &why))
        return fail(why);
    std::shared_ptr<const ResourceBundle> bundle = ResourceBundle::Build(archive, &why);
    if (!bundle)
        return fail(why);
    // Only a complete, valid bundle replaces the current one: a failed reload keeps serving
    // the texts that were there.
    ResourceBundle::SetCurrent(std::move(bundle));
    return true;
}

bool ResourceLibrary::LoadDefault(std::string* error)
{
    return Load(DefaultPath(), error);
}

void ResourceLibrary::Unload()
{
    ResourceBundle::SetCurrent(nullptr);
}

bool ResourceLibrary::IsLoaded()
{
    return ResourceBundle::Current() != nullptr;
}

std::string ResourceLibrary::DefaultPath()
{
    return AppPaths::AssetDir() + "/postwatch.rcc";
}

std::string LoadResourceString(unsigned id)
{
    const auto bundle = ResourceBundle::Current();
    if (!bundle)
        return {};
    const std::string* text = bundle->strings.Find(id);
    return text ? *text : std::string();
}
