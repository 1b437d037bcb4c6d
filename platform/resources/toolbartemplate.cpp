#include "toolbartemplate.h"

#include "resourcebundle.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace
{

bool ReadNumber(const QJsonValue& value, unsigned low, unsigned high, unsigned* out)
{
    if (!value.isDouble())
        return false;
    const double d = value.toDouble();
    if (d < low || d > high || d != static_cast<double>(static_cast<unsigned>(d)))
        return false;
    *out = static_cast<unsigned>(d);
    return true;
}

} // namespace

int ToolbarTemplate::ImageIndex(unsigned commandId) const
{
    if (commandId == 0)
        return -1;
    int index = 0;
    for (const ToolbarButton& button : buttons) {
        if (button.commandId == 0)
            continue;
        if (button.commandId == commandId)
            return index;
        ++index;
    }
    return -1;
}

bool ToolbarTemplate::Parse(const QByteArray& json, const std::string& fileName,
                            ToolbarTemplate* out, std::string* error)
{
    auto fail = [&](const std::string& why) {
        if (error)
            *error = fileName + ": " + why;
        return false;
    };
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(json, &parseError);
    if (document.isNull())
        return fail("not valid JSON (" + parseError.errorString().toStdString() + ")");
    if (!document.isObject())
        return fail("the top level is not an object");
    const QJsonObject top = document.object();
    ToolbarTemplate parsed;
    unsigned size = 0;
    if (!ReadNumber(top.value("id"), 1, 65535, &parsed.id))
        return fail("the top level needs a toolbar \"id\"");
    if (!ReadNumber(top.value("imageSize"), 8, 256, &size))
        return fail("\"imageSize\" must be 8..256");
    parsed.imageSize = int(size);
    const QJsonObject bitmaps = top.value("bitmaps").toObject();
    if (!ReadNumber(bitmaps.value("normal"), 1, 65535, &parsed.normalBitmap) ||
        !ReadNumber(bitmaps.value("hot"), 1, 65535, &parsed.hotBitmap) ||
        !ReadNumber(bitmaps.value("disabled"), 1, 65535, &parsed.disabledBitmap))
        return fail("\"bitmaps\" needs \"normal\", \"hot\" and \"disabled\" image numbers");
    for (const QJsonValue& value : top.value("buttons").toArray()) {
        const QJsonObject object = value.toObject();
        ToolbarButton button;
        if (!object.value("separator").toBool()) {
            if (!ReadNumber(object.value("command"), 1, 65535, &button.commandId))
                return fail("a button has no valid \"command\" number");
            if (object.contains("text") &&
                !ReadNumber(object.value("text"), 1, 65535, &button.textId))
                return fail("a button has an invalid \"text\" number");
            if (parsed.ImageIndex(button.commandId) >= 0)
                return fail("the command " + std::to_string(button.commandId) + " has two buttons");
        }
        parsed.buttons.push_back(button);
    }
    if (parsed.buttons.empty())
        return fail("the toolbar has no buttons");
    *out = std::move(parsed);
    return true;
}

ToolbarTemplate LoadToolbarTemplate(unsigned id)
{
    const auto bundle = ResourceBundle::Current();
    if (!bundle)
        return {};
    const auto it = bundle->toolbars.find(id);
    return it == bundle->toolbars.end() ? ToolbarTemplate{} : it->second;
}
