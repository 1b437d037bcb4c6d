#include "reportcompare.h"

int CompareReportCells(const std::string& textA, int imageA, const std::string& textB, int imageB)
{
    if (!textA.empty() || !textB.empty()) {
        // std::string::compare goes through char_traits<char>, which compares as unsigned
        // char: UTF-8 lead bytes sort after ASCII whatever the signedness of char.
        const int c = textA.compare(textB);
        return c < 0 ? -1 : (c > 0 ? 1 : 0);
    }
    return imageA < imageB ? -1 : (imageA > imageB ? 1 : 0);
}
