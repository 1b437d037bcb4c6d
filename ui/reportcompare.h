#pragma once

#include <string>

// The ordering of the report list's rows by one column.
//
// A cell is its text and its image index (-1 = none). When at least one of the two texts is
// not empty the texts decide, byte by byte as unsigned values (so case-sensitive, and a
// shorter prefix comes first); only when both are empty do the image indices decide. That
// is what makes the read-state and attachment columns, which hold images only, sortable:
// unread (image 3) comes before read (image 4) in ascending order.
//
// Pure and thread-safe. Returns < 0, 0 or > 0 as strcmp does.
int CompareReportCells(const std::string& textA, int imageA, const std::string& textB, int imageB);
