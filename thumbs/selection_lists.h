// Path lists built from a pane's selected items: the shell's source list for copy, move
// and delete, and the quoted argument list for the companion viewer and external tools.
#pragma once

#include <string>

#include "thumbs/thumbnail_item.h"

// Index of the first item whose selected mark is 1, or -1 when items is null or nothing is
// selected.
int firstSelectedItem(const ThumbnailItem* items, int count);

// Every selected item as folder + "\" + name, each ended by a zero character, and one more
// zero ending the whole list (the data ends in two zeros even for a single item).
std::wstring selectionZeroList(const wchar_t* folder, const ThumbnailItem* items, int count);

// Every selected item as "folder\name" in double quotes, separated by one space.
std::wstring selectionQuotedList(const wchar_t* folder, const ThumbnailItem* items, int count);
