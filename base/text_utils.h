// Small text helpers shared by the whole program: "%d" numbers, the date text of file
// facts, bounded path pieces, the folder containment test and the window title rule.
#pragma once

#include <cstddef>
#include <cstdint>

#include "base/platform.h"

constexpr size_t kNumberBufferSize = 260;

// Writes value with "%d" into out (a caller's buffer of kNumberBufferSize units);
// returns the number of characters written.
int formatNumber(int32_t value, wchar_t* out);

// A broken-down local time.
struct CivilTime {
    int year = 0;
    int month = 0;
    int day = 0;
    int hour = 0;
    int minute = 0;
    int second = 0;
};

// "year/mm/dd hh:mm:ss": the year in plain decimal, every other field two digits. No locale
// formatting, so the text is the same on every system. capacity counts the terminator;
// the text is cut to fit.
void formatDateText(const CivilTime& time, wchar_t* out, size_t capacity);
// The same for a file time in UTC, converted to local time first. Returns false (and an
// empty text) when the time cannot be converted.
bool formatFileDate(const FileTime& utc, wchar_t* out, size_t capacity);
// UTC file time -> local broken-down time (local_time.cpp).
bool fileTimeToLocalCivil(const FileTime& utc, CivilTime& local);

// Copies text into out (capacity units with the terminator). Fails, leaving out empty,
// when it does not fit.
bool copyText(wchar_t* out, size_t capacity, const wchar_t* text);
// out = first + second, when it fits into capacity units (out may be first); else out is
// left empty and the result is false.
bool joinText(wchar_t* out, size_t capacity, const wchar_t* first, const wchar_t* second);
// Folder part of a path including its last backslash ("" when there is none or when it
// does not fit into capacity units).
void folderOf(const wchar_t* path, wchar_t* out, size_t capacity);

// Folder and file names compare the way the file system compares them: without letter case
// (ASCII, Latin-1 and Latin Extended-A, Greek, Cyrillic and full-width Latin letters; the
// same on every system and in every locale). One unit folded to its capital.
wchar_t foldPathUnit(wchar_t c);
// Two paths name the same place: equal without case, backslashes that end a path ignored
// (except a drive root's own, "C:\"). False when either is null.
bool samePath(const wchar_t* a, const wchar_t* b);

// Whether path b lies in folder a, without case: 0 when they are the same path (samePath),
// 1 when b contains a followed by a backslash anywhere in it, -1 otherwise. A folder given
// with its trailing backslash (a drive root such as "C:\") is tested as it is.
int folderContains(const wchar_t* a, const wchar_t* b);

// The main window's title: "-1- " or "-2- " followed by the folder of that pane, or by
// "Pravel" when the folder is empty. capacity counts the terminator; cut to fit.
void formatWindowTitle(int paneNumber, const wchar_t* folder, wchar_t* out, size_t capacity);

// The hand-over of a path from a second instance. `bytes` is the WM_COPYDATA block: UTF-16
// units, little-endian. At most kPathCapacity units are read and a terminator must lie among
// them: an over-long or unterminated block is refused (false, out empty) rather than cut to
// another path. out holds kPathCapacity units.
bool handedOverPath(const uint8_t* bytes, size_t size, wchar_t* out);
// Cuts a path naming a file to the folder that holds it: at its last backslash, keeping the
// backslash of a drive root ("C:\a.jpg" -> "C:\"). False (path unchanged) without a backslash.
bool cutToContainingFolder(wchar_t* path);
