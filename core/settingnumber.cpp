#include "settingnumber.h"

#include "leadingdecimal.h"

#include <algorithm>

int SettingNumber(const std::string& text)
{
    return LeadingDecimal(text);
}

int TimeOutInForce(int stored)
{
    return stored > 0 ? std::min(stored, kMaxTimeOutSeconds) : kDefaultTimeOutSeconds;
}
