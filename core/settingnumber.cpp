#include "settingnumber.h"

#include "leadingdecimal.h"

int SettingNumber(const std::string& text) { return LeadingDecimal(text); }
