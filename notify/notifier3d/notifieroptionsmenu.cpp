#include "notifieroptionsmenu.h"

#include "notifier3dwindow.h"
#include "notifieroptions.h"
#include "resourceids.h"
#include "templatemenubuilder.h"

#include <QAction>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QMenu>
#include <algorithm>

namespace
{

enum : unsigned {
    kTopMost = 32774,
    kOpenModel = 32777,
    kOpenTexture = 32785,
    kSmall = 32788,
    kMedium = 32778,
    kLarge = 32787,
    kClose = 32784,
    kClickShows = 32893,
    kClickCloses = 32894,
};

constexpr unsigned kFileGone = 61336;
constexpr unsigned kModelKept = 61435;
constexpr unsigned kSizeFailed = 61436;
constexpr unsigned kTextureKept = 61437;

const char* const kModelPrefix = "Model#";
const char* const kTexturePrefix = "Texture#";

QAction* AddChoice(QMenu* menu, const std::string& text, unsigned id, bool checked)
{
    // An '&' in a file name is shown, not taken as a mnemonic.
    QAction* action = menu->addAction(QString::fromStdString(text).replace('&', "&&"));
    action->setData(id);
    action->setCheckable(true);
    action->setChecked(checked);
    return action;
}

bool SameFolder(const QString& a, const QString& b)
{
    return QDir::cleanPath(a).compare(QDir::cleanPath(b), Qt::CaseInsensitive) == 0;
}

bool Exists(const std::string& path)
{
    return QFileInfo(QString::fromStdString(path)).isFile();
}

QString AskForFile(bool model)
{
    return model ? QFileDialog::getOpenFileName(
                       nullptr, QString(), QString(),
                       QStringLiteral("Models (*.x *.obj *.gltf *.glb *.fbx);;DirectX files "
                                      "(*.x);;All files (*)"))
                 : QFileDialog::getOpenFileName(
                       nullptr, QString(), QString(),
                       QStringLiteral("Texture files (*.bmp);;Pictures (*.bmp *.png *.jpg "
                                      "*.jpeg);;All files (*)"));
}

} // namespace

CNotifierOptionsMenu::CNotifierOptionsMenu(CNotifier3dWindow& window, FileChooser chooser)
    : window_(window), chooser_(chooser ? std::move(chooser) : FileChooser(AskForFile))
{
}

std::vector<std::string> CNotifierOptionsMenu::ListFolder(const std::string& folder,
                                                          const std::string& extension)
{
    const QDir dir(QString::fromStdString(folder));
    const QFileInfoList files =
        dir.entryInfoList({QStringLiteral("*.") + QString::fromStdString(extension)},
                          QDir::Files | QDir::Hidden, QDir::Name | QDir::IgnoreCase);
    std::vector<std::string> titles;
    for (const QFileInfo& file : files) {
        // The pattern ignores case on some file systems only: keep exactly ".<extension>".
        if (file.suffix().compare(QString::fromStdString(extension), Qt::CaseInsensitive) != 0)
            continue;
        titles.push_back(file.completeBaseName().toStdString());
    }
    return titles;
}

QMenu* CNotifierOptionsMenu::Build()
{
    const CNotifierOptions& options = window_.Options();
    models_ = ListFolder(options.modelDir, "x");
    textures_ = ListFolder(options.textureDir, "bmp");
    if (!CNotifierOptions::ReadRecent(kModelPrefix, recentModels_) ||
        !CNotifierOptions::ReadRecent(kTexturePrefix, recentTextures_))
        return nullptr;
    QMenu* menu = TemplateMenuBuilder::BuildContextMenu(ResId::kNotifierOptionsMenu);
    if (!menu)
        return nullptr;
    std::vector<QMenu*> submenus;
    for (QAction* action : menu->actions())
        if (action->menu())
            submenus.push_back(action->menu());
    if (submenus.size() < 2) {
        delete menu;
        return nullptr;
    }

    auto check = [&](unsigned id, bool on) {
        if (QAction* action = TemplateMenuBuilder::FindCommand(menu, id)) {
            action->setCheckable(true);
            action->setChecked(on);
        }
    };
    check(kSmall, options.size == 1);
    check(kMedium, options.size == 2);
    check(kLarge, options.size == 4);
    check(kClickShows, options.dbClickShow);
    check(kClickCloses, options.dbClickClose);
    check(kTopMost, options.topMost);

    auto fill = [](QMenu* into, const std::vector<std::string>& titles, const char* suffix,
                   unsigned firstId, bool package, const std::string& current) {
        for (size_t i = 0; i < titles.size() && i < size_t(kMaxPackaged); ++i) {
            const QString file = QString::fromStdString(titles[i] + suffix);
            AddChoice(into, titles[i], firstId + unsigned(i),
                      package &&
                          file.compare(QString::fromStdString(current), Qt::CaseInsensitive) == 0);
        }
    };
    fill(submenus[0], models_, ".x", kFirstModel, options.usePackageModel, options.lastSelectModel);
    fill(submenus[1], textures_, ".bmp", kFirstTexture, options.usePackageTexture,
         options.lastSelectTexture);
    auto recent = [](QMenu* into, const std::vector<std::string>& paths, unsigned firstId,
                     bool package, const std::string& current) {
        if (!paths.empty())
            into->addSeparator();
        for (size_t i = 0; i < paths.size(); ++i)
            AddChoice(into, paths[i], firstId + unsigned(i), !package && paths[i] == current);
    };
    recent(submenus[0], recentModels_, kFirstRecentModel, options.usePackageModel,
           options.lastSelectModel);
    recent(submenus[1], recentTextures_, kFirstRecentTexture, options.usePackageTexture,
           options.lastSelectTexture);
    return menu;
}

void CNotifierOptionsMenu::Popup(const QPoint& global)
{
    QMenu* menu = Build();
    if (!menu)
        return;
    QAction* chosen = menu->exec(global);
    const unsigned command = chosen ? TemplateMenuBuilder::CommandOf(chosen) : 0;
    delete menu;
    Execute(command);
}

void CNotifierOptionsMenu::Execute(unsigned command)
{
    if (command == 0)
        return;
    if (command == kClose) {
        window_.SaveOptions();
        window_.close();
        return;
    }
    // The lists as they are now: a command may come without a freshly built menu.
    const CNotifierOptions& now = window_.Options();
    models_ = ListFolder(now.modelDir, "x");
    textures_ = ListFolder(now.textureDir, "bmp");
    CNotifierOptions::ReadRecent(kModelPrefix, recentModels_);
    CNotifierOptions::ReadRecent(kTexturePrefix, recentTextures_);

    CNotifierOptions& options = window_.MutableOptions();
    auto inRange = [](unsigned id, unsigned first, size_t count) {
        return id >= first && id < first + unsigned(std::min<size_t>(count, kMaxPackaged));
    };
    switch (command) {
    case kTopMost:
        window_.SetTopMost(!options.topMost);
        break;
    case kOpenModel:
    case kOpenTexture:
        ChooseFile(command == kOpenModel);
        break;
    case kSmall:
        Resize(1);
        break;
    case kMedium:
        Resize(2);
        break;
    case kLarge:
        Resize(4);
        break;
    case kClickShows:
        options.dbClickShow = !options.dbClickShow;
        options.dbClickClose = false;
        break;
    case kClickCloses:
        options.dbClickClose = !options.dbClickClose;
        options.dbClickShow = false;
        break;
    default:
        if (inRange(command, kFirstModel, models_.size())) {
            Select(true, true, models_[command - kFirstModel] + ".x");
        } else if (inRange(command, kFirstTexture, textures_.size())) {
            Select(false, true, textures_[command - kFirstTexture] + ".bmp");
        } else if (inRange(command, kFirstRecentModel, recentModels_.size()) ||
                   inRange(command, kFirstRecentTexture, recentTextures_.size())) {
            const bool model = command < kFirstTexture;
            const std::string& path = model ? recentModels_[command - kFirstRecentModel]
                                            : recentTextures_[command - kFirstRecentTexture];
            if (!Exists(path))
                window_.ShowMessage(kFileGone);
            else
                Select(model, false, path);
        } else {
            return; // not one of ours
        }
    }
    if (window_.Up())
        window_.RestoreSquare();
}

void CNotifierOptionsMenu::ChooseFile(bool model)
{
    const QString chosen = chooser_(model);
    if (chosen.isEmpty())
        return;
    const QFileInfo file(chosen);
    if (!file.isFile()) {
        window_.ShowMessage(kFileGone);
        return;
    }
    const CNotifierOptions& options = window_.Options();
    const std::string& packageDir = model ? options.modelDir : options.textureDir;
    if (SameFolder(file.absolutePath(), QString::fromStdString(packageDir))) {
        Select(model, true, file.fileName().toStdString());
        return;
    }
    const std::string path = file.absoluteFilePath().toStdString();
    if (!CNotifierOptions::RememberRecent(model ? kModelPrefix : kTexturePrefix, path))
        return;
    Select(model, false, path);
}

void CNotifierOptionsMenu::Select(bool model, bool package, const std::string& name)
{
    CNotifierOptions& options = window_.MutableOptions();
    bool& flag = model ? options.usePackageModel : options.usePackageTexture;
    const bool oldFlag = flag;
    const std::string oldName = model ? options.lastSelectModel : options.lastSelectTexture;
    flag = package;
    if (model ? window_.SelectModel(name) : window_.SelectTexture(name))
        return;
    window_.SetDeviceLost(true);
    window_.ShowMessage(model ? kModelKept : kTextureKept);
    flag = oldFlag;
    if (!(model ? window_.SelectModel(oldName) : window_.SelectTexture(oldName))) {
        window_.close();
        return;
    }
    window_.SetDeviceLost(false);
}

void CNotifierOptionsMenu::Resize(int n)
{
    const int old = window_.Options().size;
    if (window_.SetSize(n))
        return;
    window_.SetDeviceLost(true);
    window_.MutableOptions().size = old;
    window_.ShowMessage(kSizeFailed);
    window_.close();
}
