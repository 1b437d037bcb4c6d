#include "menutemplate.h"

#include "resourcebundle.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace
{

// Deeper nesting than this is a mistake in the template, not a menu anyone could use.
constexpr int kMaxMenuDepth = 8;

bool ReadId(const QJsonValue& value, unsigned* id)
{
    if (!value.isDouble())
        return false;
    const double d = value.toDouble();
    if (d < 0 || d > 65535 || d != static_cast<double>(static_cast<unsigned>(d)))
        return false;
    *id = static_cast<unsigned>(d);
    return true;
}

bool ReadItems(const QJsonArray& array, int depth, std::vector<MenuItem>* items, std::string* why)
{
    if (depth > kMaxMenuDepth) {
        *why = "submenus are nested too deeply";
        return false;
    }
    for (const QJsonValue& value : array) {
        if (!value.isObject()) {
            *why = "a menu item is not an object";
            return false;
        }
        const QJsonObject object = value.toObject();
        MenuItem item;
        if (object.value("separator").toBool()) {
            item.kind = MenuItem::Kind::Separator;
        } else if (object.contains("popup")) {
            item.kind = MenuItem::Kind::Popup;
            item.text = object.value("popup").toString().toStdString();
            if (!object.value("items").isArray()) {
                *why = "the popup \"" + item.text + "\" has no \"items\" list";
                return false;
            }
            if (!ReadItems(object.value("items").toArray(), depth + 1, &item.children, why))
                return false;
        } else {
            item.kind = MenuItem::Kind::Command;
            item.text = object.value("text").toString().toStdString();
            if (item.text.empty()) {
                *why = "a command item has no \"text\"";
                return false;
            }
            if (!ReadId(object.value("command"), &item.commandId)) {
                *why = "the item \"" + item.text + "\" has no valid \"command\" number";
                return false;
            }
            if (object.contains("image") && !ReadId(object.value("image"), &item.imageId)) {
                *why = "the item \"" + item.text + "\" has an invalid \"image\" number";
                return false;
            }
            item.checkable = object.value("checkable").toBool();
        }
        items->push_back(std::move(item));
    }
    return true;
}

} // namespace

bool MenuTemplate::Parse(const QByteArray& json, const std::string& fileName, MenuTemplate* out,
                         std::string* error)
{
    std::string why;
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(json, &parseError);
    MenuTemplate parsed;
    if (document.isNull()) {
        why = "not valid JSON (" + parseError.errorString().toStdString() + " at offset " +
              std::to_string(parseError.offset) + ")";
    } else if (!document.isObject() || !ReadId(document.object().value("id"), &parsed.id) ||
               parsed.id == 0) {
        why = "the top level needs a menu \"id\"";
    } else if (!document.object().value("items").isArray()) {
        why = "the top level needs an \"items\" list";
    } else if (ReadItems(document.object().value("items").toArray(), 0, &parsed.items, &why) &&
               parsed.items.empty()) {
        why = "the menu is empty";
    }
    if (!why.empty()) {
        if (error)
            *error = fileName + ": " + why;
        return false;
    }
    *out = std::move(parsed);
    return true;
}

MenuTemplate LoadMenuTemplate(unsigned id)
{
    const auto bundle = ResourceBundle::Current();
    if (!bundle)
        return {};
    const auto it = bundle->menus.find(id);
    return it == bundle->menus.end() ? MenuTemplate{} : it->second;
}
