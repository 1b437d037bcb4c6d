#include "accountkindtext.h"

#include "accountrecord.h"
#include "dialogtext.h"

QString AccountKindText(const std::string& mailType)
{
    static constexpr struct {
        const char* literal;
        unsigned text;
    } kKinds[] = {
        {kMailTypePop3, DlgText::kKindPop3},
        {kMailTypeImap4, DlgText::kKindImap4},
        {kMailTypePortalpost, DlgText::kKindWebMail},
        {kMailTypeExchange, DlgText::kKindExchange},
    };
    for (const auto& kind : kKinds) {
        if (mailType != kind.literal)
            continue;
        const QString text = DlgText::Text(kind.text);
        if (!text.isEmpty())
            return text;
        break;
    }
    return QString::fromStdString(mailType);
}
