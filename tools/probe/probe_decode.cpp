// pravel-probe decode FILE [--target WxH] [--out OUT.bmp] [--plugins DIR]
// Runs the loader dispatch the way a thumbnail pane does and prints the facts of the load
// as one JSON line; optionally writes the 24-bit result as a bitmap file.
#include <cinttypes>
#include <cstdio>
#include <string>

#include "image/bmp_codec.h"
#include "base/settings.h"
#include "image/decoded_image.h"
#include "tools/probe/probe.h"

namespace {

bool parseSize(const std::string& text, int32_t& w, int32_t& h) {
    unsigned long a = 0, b = 0;
    char x = 0, extra = 0;
    if (std::sscanf(text.c_str(), "%lu%c%lu%c", &a, &x, &b, &extra) != 3 || (x != 'x' && x != 'X')) return false;
    if (a > 0x7FFFFFFF || b > 0x7FFFFFFF) return false;
    w = int32_t(a);
    h = int32_t(b);
    return true;
}

int runDecode(const probe::Args& args) {
    const probe::Args files = probe::positionals(args, {"--target", "--out", "--plugins"});
    if (files.size() != 1) {
        probe::err("usage: pravel-probe decode FILE [--target WxH] [--out OUT.bmp] [--plugins DIR]\n");
        return 2;
    }
    int32_t targetW = 0, targetH = 0;
    std::string value;
    if (probe::optionValue(args, "--target", value) && !parseSize(value, targetW, targetH)) {
        probe::err("pravel-probe decode: --target wants WxH, e.g. 160x120\n");
        return 2;
    }
    std::string outPath;
    const bool wantOut = probe::optionValue(args, "--out", outPath);

    if (probe::optionValue(args, "--plugins", value)) probe::copyPluginFolderSetting(probe::toPath(value));
    const std::wstring path = probe::toPath(files[0]);
    const ImageFormat sniffed = sniffImageFormat(path.c_str());
    ImageDecoder decoder;
    LoadInfo info;
    const bool ok = loadImage(decoder, path.c_str(), targetW, targetH, g_settings.pluginFolder, info);
    // The dispatch's rule: whatever it decodes must reach the folder's cache.
    const bool cacheNeedsRewrite = ok;
    const FileFacts& facts = info.facts;

    char line[512];
    std::snprintf(line, sizeof line,
                  "{\"ok\":%s,\"sniffed\":%d,\"errorCode\":%d,\"cacheNeedsRewrite\":%u,"
                  "\"lastWriteTime\":%" PRIu64 ",\"fileWidth\":%d,\"fileHeight\":%d,\"fileSize\":%" PRIu32
                  ",\"format\":%d,\"sourceDepth\":%d,\"commentCount\":%d,\"metaCount\":%d,\"interlaced\":%d,"
                  "\"width\":%d,\"height\":%d",
                  ok ? "true" : "false", int(sniffed), int(sniffed != FormatUnknown && sniffed != FormatEmpty ? decoder.record.errorCode : 0), unsigned(cacheNeedsRewrite),
                  ok ? facts.lastWriteTime.value() : uint64_t(0), ok ? facts.fileWidth : 0, ok ? facts.fileHeight : 0,
                  ok ? facts.fileSize : 0, ok ? facts.format : 0, ok ? facts.sourceDepth : 0, facts.commentCount,
                  facts.metaCount, facts.interlaced, ok ? info.width : 0, ok ? info.height : 0);
    std::string json = std::string(line) + ",\"file\":" + probe::jsonString(files[0]);

    int rc = ok ? 0 : 1;
    if (ok && wantOut) {
        DecodedImage& image = *info.current;
        DepthConversion conversion;
        conversion.width = image.header.biWidth;
        conversion.height = image.header.biHeight;
        conversion.sourceDepth = 24;
        conversion.targetDepth = 24;
        conversion.xPelsPerMeter = image.header.biXPelsPerMeter;
        conversion.yPelsPerMeter = image.header.biYPelsPerMeter;
        const std::wstring out = probe::toPath(outPath);
        const bool written = writeBmp(out.c_str(), conversion, image.pixels);
        json += std::string(",\"written\":") + (written ? "true" : "false");
        if (!written) {
            json += ",\"writeError\":" + std::to_string(conversion.errorCode);
            rc = 3;
        }
    }
    if (ok) {
        pageFree(info.current->pixels);
        info.current->pixels = nullptr;
    }
    probe::out(json + "}\n");
    return rc;
}

}  // namespace

PROBE_COMMAND(decode, "decode FILE [--target WxH] [--out OUT.bmp] [--plugins DIR]",
              "decode through the loader dispatch; print the load facts as JSON (exit 1 when it fails)", runDecode);
