#include "dialogtext.h"

#include "resourcelibrary.h"

namespace DlgText
{

QString Text(unsigned id)
{
    return QString::fromStdString(LoadResourceString(id));
}

QString Fill(const QString& pattern, const QString& value)
{
    QString text = pattern;
    qsizetype at = text.indexOf(QLatin1String("%s"));
    if (at < 0)
        at = text.indexOf(QLatin1String("%d"));
    if (at >= 0)
        text.replace(at, 2, value);
    return text;
}

} // namespace DlgText
