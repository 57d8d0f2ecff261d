// pravel-probe exif FILE | texts FILE | comment FILE | set-comment FILE TEXT OUT
// The metadata readers and the comment writer, one JSON line each. Texts stored in files
// are printed as their bytes taken as UTF-8 (bytes that are not UTF-8 come out as \u00XX
// escapes), the same on every build; set-comment stores the argument's UTF-8 bytes.
#include <cinttypes>
#include <cstdio>
#include <filesystem>
#include <string>

#include "image/exif_format.h"
#include "image/exif_reader.h"
#include "image/image_comment.h"
#include "image/png_text.h"
#include "tools/probe/probe.h"

namespace {

std::string bytesUntilZero(const char* bytes, size_t size) {
    size_t n = 0;
    while (n < size && bytes[n] != 0) ++n;
    return std::string(bytes, n);
}

std::wstring utf8Decoder(const char* bytes, size_t size) { return probe::toPath(bytesUntilZero(bytes, size)); }

std::string fraction(uint32_t numerator, uint32_t denominator) {
    char text[48];
    std::snprintf(text, sizeof text, "[%" PRIu32 ",%" PRIu32 "]", numerator, denominator);
    return text;
}

std::string signedFraction(int32_t numerator, int32_t denominator) {
    char text[48];
    std::snprintf(text, sizeof text, "[%" PRId32 ",%" PRId32 "]", numerator, denominator);
    return text;
}

bool oneFile(const probe::Args& args, const char* usage, std::wstring& path) {
    const probe::Args files = probe::positionals(args, {});
    if (files.size() != 1) {
        probe::err(std::string("usage: pravel-probe ") + usage + "\n");
        return false;
    }
    path = probe::toPath(files[0]);
    return true;
}

int runExif(const probe::Args& args) {
    std::wstring path;
    if (!oneFile(args, "exif FILE", path)) return 2;
    ExifSummary s;
    int32_t code = 0;
    const bool ok = readExif(path.c_str(), s, &code);
    std::string line = std::string("{\"ok\":") + (ok ? "true" : "false") + ",\"errorCode\":" + std::to_string(code);
    if (ok) {
        const ExifRows rows = formatExif(s, utf8Decoder);
        line += ",\"rows\":[";
        for (int i = 0; i < kExifRowCount; ++i) {
            if (i) line += ',';
            line += "{\"label\":" + probe::jsonString(probe::toUtf8(kExifLabels[i])) +
                    ",\"value\":" + probe::jsonString(probe::toUtf8(rows.values[i])) + "}";
        }
        line += "],\"make\":" + probe::jsonString(bytesUntilZero(s.make, sizeof s.make)) +
                ",\"model\":" + probe::jsonString(bytesUntilZero(s.model, sizeof s.model)) +
                ",\"exposure\":" + fraction(s.exposureNumerator, s.exposureDenominator) +
                ",\"fNumber\":" + fraction(s.fNumberNumerator, s.fNumberDenominator) +
                ",\"exposureProgram\":" + std::to_string(s.exposureProgram) + ",\"iso\":" + std::to_string(s.isoSpeed) +
                ",\"dateTime\":" + probe::jsonString(bytesUntilZero(s.dateTime, sizeof s.dateTime)) +
                ",\"bias\":" + signedFraction(s.biasNumerator, s.biasDenominator) +
                ",\"maxAperture\":" + fraction(s.maxApertureNumerator, s.maxApertureDenominator) +
                ",\"metering\":" + std::to_string(s.meteringMode) + ",\"flash\":" + std::to_string(s.flash) +
                ",\"focalLength\":" + fraction(s.focalNumerator, s.focalDenominator);
    }
    probe::out(line + "}\n");
    return ok ? 0 : 1;
}

int runTexts(const probe::Args& args) {
    std::wstring path;
    if (!oneFile(args, "texts FILE", path)) return 2;
    PngTextList list;
    int32_t code = 0;
    const bool ok = readPngTexts(path.c_str(), list, &code);
    std::string line = std::string("{\"ok\":") + (ok ? "true" : "false") + ",\"errorCode\":" + std::to_string(code) +
                       ",\"entries\":[";
    for (int i = 0; i < list.count(); ++i) {
        if (i) line += ',';
        const PngTextEntry& e = list.entries[i];
        line += "{\"keyword\":" + probe::jsonString(bytesUntilZero(e.keyword, sizeof e.keyword)) +
                ",\"text\":" + probe::jsonString(bytesUntilZero(e.text, sizeof e.text)) + "}";
    }
    probe::out(line + "]}\n");
    return ok ? 0 : 1;
}

const char* formatName(ImageFormat format) { return format == FormatJpeg ? "jpeg" : format == FormatPng ? "png" : "other"; }

int runComment(const probe::Args& args) {
    std::wstring path;
    if (!oneFile(args, "comment FILE", path)) return 2;
    const ImageFormat format = sniffImageFormat(path.c_str());
    const std::string comment = readComment(path.c_str(), format);
    probe::out(std::string("{\"format\":\"") + formatName(format) + "\",\"comment\":" + probe::jsonString(comment) + "}\n");
    return format == FormatJpeg || format == FormatPng ? 0 : 1;
}

int runSetComment(const probe::Args& args) {
    const probe::Args files = probe::positionals(args, {});
    if (files.size() != 3) {
        probe::err("usage: pravel-probe set-comment FILE TEXT OUT   (OUT must not be FILE; an empty TEXT removes)\n");
        return 2;
    }
    const std::wstring source = probe::toPath(files[0]);
    const std::wstring target = probe::toPath(files[2]);
    // The rewrite reads the source through a mapping while it writes the target: they must
    // never be the same file.
    std::error_code ec;
    if (files[0] == files[2] || std::filesystem::equivalent(std::filesystem::path(source), std::filesystem::path(target), ec)) {
        probe::err("pravel-probe set-comment: OUT is FILE itself; the rewrite only writes copies\n");
        return 2;
    }
    const ImageFormat format = sniffImageFormat(source.c_str());
    if (format != FormatJpeg && format != FormatPng) {
        probe::err("pravel-probe set-comment: FILE is neither JPEG nor PNG\n");
        return 1;
    }
    const std::string& text = files[1];
    int32_t count = 0, code = 0;
    const CommentRewrite result = rewriteWithComment(source.c_str(), target.c_str(), format, text.c_str(), text.size(), count, &code);
    const char* name = result == CommentRewrite::Written ? "written" : result == CommentRewrite::NoChange ? "no-change" : "failed";
    std::string line = std::string("{\"result\":\"") + name + "\",\"format\":\"" + formatName(format) + "\"";
    if (result == CommentRewrite::Written) line += ",\"count\":" + std::to_string(count);
    if (result == CommentRewrite::Failed) line += ",\"errorCode\":" + std::to_string(code);
    probe::out(line + "}\n");
    return result == CommentRewrite::Failed ? 1 : 0;
}

}  // namespace

PROBE_COMMAND(exif, "exif FILE", "print the Exif summary of a JPEG (12 rows and raw fields) as JSON", runExif);
PROBE_COMMAND(texts, "texts FILE", "print the tEXt entries of a PNG as JSON", runTexts);
PROBE_COMMAND(comment, "comment FILE", "print the comment of a JPEG or PNG as JSON", runComment);
// The name has a hyphen, which the macro cannot spell.
static probe::CommandRegistrar setCommentRegistrar("set-comment", "set-comment FILE TEXT OUT",
                                                   "write a copy of FILE with TEXT as its comment (empty removes)", runSetComment);
