// The Exif rows of real camera files against exiftool's reading of the same tags.
//
// exiftool runs once per folder with -n (numbers, not display texts) and -T (one line per
// file). Our rows follow their own rules where they differ from a plain reading on purpose;
// the expected values below apply those rules to exiftool's numbers:
//   - Exposure: ShutterSpeedValue (APEX Tv) wins over ExposureTime and is shown as
//     1/floor(2^Tv), e.g. 1/238 where ExposureTime says 1/250. exiftool -n reports it as
//     2^-Tv seconds (0 when |Tv| >= 100). A Tv below 0 (longer than 1 s) or of 32 and more
//     cannot be written that way; ExposureTime is shown then.
//   - F-number: FNumber; only when it is absent, ApertureValue converted to 2^(Av/2).
//   - Numbers are shown with one decimal ("%.1f"); they must lie within 0.05 of exiftool's.
//   - Make and Model are cut to 64 bytes; trailing blanks are not compared.
//   - Files without an Exif IFD tag we know are "no Exif" for us (the dialog says so).
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "base/platform.h"
#include "image/exif_format.h"
#include "image/exif_reader.h"

namespace fs = std::filesystem;

namespace {

const char* const kTags[] = {"FileName",     "Make",         "Model",      "ExposureTime",         "ShutterSpeedValue",
                             "FNumber",      "ApertureValue", "ExposureProgram", "ISO",           "ExposureCompensation",
                             "MeteringMode", "Flash",        "FocalLength", "MaxApertureValue",    "DateTimeOriginal"};
enum Column { FileName, Make, Model, ExposureTime, ShutterSpeed, FNumber, Aperture, Program, Iso, Bias, Metering, Flash, Focal, MaxAperture, Date, ColumnCount };

using Reading = std::vector<std::string>;  // one value per column, "-" when absent

std::map<std::string, Reading> runExiftool(const fs::path& folder) {
    std::string command = "exiftool -T -n -f -charset exif=latin1";
    for (const char* tag : kTags) command += std::string(" -") + (std::string(tag) == "FileName" ? "" : "EXIF:") + tag;
    command += " -ext jpg '" + folder.string() + "' 2>/dev/null";
    std::map<std::string, Reading> result;
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) return result;
    std::string all;
    char buffer[4096];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) all.append(buffer, n);
    pclose(pipe);
    std::istringstream lines(all);
    std::string line;
    while (std::getline(lines, line)) {
        Reading r;
        std::istringstream fields(line);
        std::string field;
        while (std::getline(fields, field, '\t')) r.push_back(field);
        if (r.size() == ColumnCount) result[r[FileName]] = r;
    }
    return result;
}

bool has(const Reading& r, Column c) { return r[c] != "-"; }
double number(const Reading& r, Column c) { return std::stod(r[c]); }  // first number of a list

std::string trimmed(std::string s) {
    while (!s.empty() && (s.back() == ' ' || s.back() == '\0')) s.pop_back();
    return s;
}

std::string narrow(const std::wstring& w) { return wideToUtf8(w); }

// A "%.1f" row (with an optional unit after it) is within 0.05 of value.
void expectNear(const std::wstring& row, double value, const char* what) {
    ASSERT_FALSE(row.empty()) << what;
    EXPECT_NEAR(std::stod(narrow(row)), value, 0.05 + 1e-9) << what << " row " << narrow(row);
}

// Exposure fraction by our rules, from exiftool's numbers; {0, 0} when the row is empty.
std::pair<double, double> expectedExposure(const Reading& r) {
    if (has(r, ShutterSpeed)) {
        const double seconds = number(r, ShutterSpeed);
        if (seconds > 0 && seconds <= 1.0) {
            const double tv = -std::log2(seconds);
            if (tv < 32) return {1, std::floor(1.0 / seconds + 1e-9)};
        }
    }
    if (has(r, ExposureTime)) return {number(r, ExposureTime), 1};
    return {0, 0};
}

void compare(const Reading& r, const ExifSummary& s, const ExifRows& rows) {
    SCOPED_TRACE(r[FileName]);
    const std::string make(s.make, strnlen(s.make, sizeof s.make)), model(s.model, strnlen(s.model, sizeof s.model));
    EXPECT_EQ(trimmed(make), trimmed(has(r, Make) ? r[Make].substr(0, 64) : ""));
    EXPECT_EQ(trimmed(model), trimmed(has(r, Model) ? r[Model].substr(0, 64) : ""));

    const auto [expNum, expDen] = expectedExposure(r);
    if (expNum == 0 && expDen == 0) {
        EXPECT_EQ(rows.values[2], L"");
    } else if (expNum == 1 && s.exposureNumerator == 1 && has(r, ShutterSpeed) && expDen != 1) {
        EXPECT_EQ(double(s.exposureDenominator), expDen) << "ShutterSpeedValue rule";
    } else {
        ASSERT_NE(s.exposureDenominator, 0u);
        EXPECT_NEAR(double(s.exposureNumerator) / s.exposureDenominator, expNum, expNum * 1e-6) << "ExposureTime";
    }

    if (has(r, FNumber)) expectNear(rows.values[3], number(r, FNumber), "FNumber");
    else if (has(r, Aperture)) expectNear(rows.values[3], number(r, Aperture), "ApertureValue");
    else EXPECT_EQ(rows.values[3], L"");

    const int program = has(r, Program) ? int(number(r, Program)) : 0;
    EXPECT_EQ(rows.values[4].empty(), program < 1 || program > 8) << "ExposureProgram " << program;
    const double iso = has(r, Iso) ? number(r, Iso) : 0;
    EXPECT_EQ(rows.values[5], iso == 0 ? L"" : std::to_wstring(int(iso)));
    if (has(r, Bias)) expectNear(rows.values[6], number(r, Bias), "ExposureCompensation");
    else EXPECT_EQ(rows.values[6], L"");
    const int metering = has(r, Metering) ? int(number(r, Metering)) : 0;
    EXPECT_EQ(s.meteringMode, metering);
    EXPECT_EQ(rows.values[7].empty(), metering < 1 || metering > 6);
    const int flash = has(r, Flash) ? int(number(r, Flash)) : 0;
    EXPECT_EQ(rows.values[8], (flash & 1) ? L"ON" : L"OFF");
    if (has(r, Focal)) expectNear(rows.values[9], number(r, Focal), "FocalLength");
    else EXPECT_EQ(rows.values[9], L"");
    if (has(r, MaxAperture)) expectNear(rows.values[10], number(r, MaxAperture), "MaxApertureValue");
    else EXPECT_EQ(rows.values[10], L"");
    EXPECT_EQ(narrow(rows.values[11]), has(r, Date) ? r[Date] : "");
}

// Files on which the rules above make us read something else than exiftool, and why.
struct KnownDifference {
    const char* file;
    const char* reason;
};
const KnownDifference kKnownDifferences[] = {
    {"exif_typeerror.jpg",
     "its ExifIFDPointer is stored with type ASCII: exiftool refuses to follow it, we take the value field as the "
     "offset whatever the type and read the Exif IFD behind it (DateTimeOriginal 2010:07:11 13:53:00)"},
};

const KnownDifference* knownDifference(const std::string& name) {
    for (const auto& d : kKnownDifferences)
        if (name == d.file) return &d;
    return nullptr;
}

}  // namespace

TEST(ExifSuite, RowsAgreeWithExiftool) {
    const fs::path root = fs::path(PRAVEL_TESTDATA) / "exif";
    if (!fs::is_directory(root)) GTEST_SKIP() << "no " << root << " (run tools/setup.sh)";
    if (std::system("exiftool -ver > /dev/null 2>&1") != 0) GTEST_SKIP() << "exiftool is not installed";

    int files = 0, withExif = 0;
    for (const auto& folder : fs::directory_iterator(root)) {
        if (!folder.is_directory()) continue;
        const std::map<std::string, Reading> readings = runExiftool(folder.path());
        for (const auto& entry : fs::directory_iterator(folder.path())) {
            const std::string name = entry.path().filename().string();
            if (entry.path().extension() != ".jpg") continue;
            ++files;
            auto it = readings.find(name);
            ASSERT_NE(it, readings.end()) << "exiftool gave no line for " << name;
            const Reading& r = it->second;
            ExifSummary s;
            const std::wstring path = utf8ToWide(entry.path().string());
            if (!readExif(path.c_str(), s)) {
                // No Exif for us: exiftool must not know any of the Exif IFD values either.
                for (int c = ExposureTime; c < ColumnCount; ++c) EXPECT_FALSE(has(r, Column(c))) << name << " " << kTags[c];
                continue;
            }
            ++withExif;
            if (const KnownDifference* d = knownDifference(name)) {
                std::printf("%s: not compared: %s\n", name.c_str(), d->reason);
                continue;
            }
            compare(r, s, formatExif(s));
        }
    }
    EXPECT_GT(withExif, 20) << "of " << files << " files";
    std::printf("compared %d files with Exif out of %d\n", withExif, files);
}
