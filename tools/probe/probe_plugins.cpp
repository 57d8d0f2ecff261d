// pravel-probe plugins FOLDER [--configure NAME]
// pravel-probe plugdecode --plugins DIR [--out-dir DIR] [--repeat N] FILE...
// The image plug-in host from the command line: what a plug-in folder offers, and files
// decoded by the plug-ins alone (no built-in decoder first), one JSON line per file, with
// the 24-bit results written as bitmaps for comparison with a reference decoder. Only the
// Windows build has plug-ins; natively the folder is always empty.
#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <string>
#include <vector>

#include "base/directory_list.h"
#include "base/platform.h"
#include "base/settings.h"
#include "image/bmp_codec.h"
#include "image/decoded_image.h"
#include "image/plugin_host.h"
#include "tools/probe/probe.h"

void probe::copyPluginFolderSetting(const std::wstring& folder) {
    const size_t n = std::min(folder.size(), size_t(kPathCapacity - 1));
    std::copy_n(folder.c_str(), n, g_settings.pluginFolder);
    g_settings.pluginFolder[n] = 0;
}

namespace {

std::string jsonList(const std::vector<std::wstring>& items) {
    std::string json = "[";
    for (size_t i = 0; i < items.size(); ++i) json += (i ? "," : "") + probe::jsonString(probe::toUtf8(items[i]));
    return json + "]";
}

int runPlugins(const probe::Args& args) {
    const probe::Args positional = probe::positionals(args, {"--configure"});
    if (positional.size() != 1) {
        probe::err("usage: pravel-probe plugins FOLDER [--configure NAME]\n");
        return 2;
    }
    const std::wstring folder = probe::toPath(positional[0]);
    std::string name;
    if (probe::optionValue(args, "--configure", name)) {
        // The plug-in's own settings dialog, without an owner window.
        configurePlugin(joinPath(folder, probe::toPath(name)).c_str(), nullptr);
        return 0;
    }
    const std::vector<std::wstring> names = listPlugins(folder.c_str(), PluginListMode::Names);
    std::string json = "{\"names\":" + jsonList(names);
    json += ",\"patterns\":" + jsonList(listPlugins(folder.c_str(), PluginListMode::Patterns));
    json += ",\"summaries\":[";
    for (size_t i = 0; i < names.size(); ++i) {
        PluginSummary summary;
        pluginSummary(joinPath(folder, names[i]).c_str(), summary);
        json += std::string(i ? "," : "") + "{\"patterns\":" + probe::jsonString(probe::toUtf8(summary.patterns)) +
                ",\"descriptions\":" + probe::jsonString(probe::toUtf8(summary.descriptions)) + "}";
    }
    probe::out(json + "]}\n");
    return 0;
}

// The record's pixels at 24 bits (a new page block), or null.
uint8_t* pixels24(const DecodedImage& image) {
    DepthConversion c;
    c.width = image.header.biWidth;
    c.height = image.header.biHeight;
    c.sourceDepth = image.header.biBitCount;
    c.targetDepth = 24;
    computeLayout(c);
    auto* target = static_cast<uint8_t*>(pageAlloc(c.targetImageSize));
    if (!target) return nullptr;
    c.sourcePalette = image.palette;
    c.sourcePixels = image.pixels;
    c.targetPixels = target;
    if (!convertDepth(c)) {
        pageFree(target);
        return nullptr;
    }
    return target;
}

std::string baseName(const std::string& path) {
    const size_t slash = path.find_last_of("/\\");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

int runPluginDecode(const probe::Args& args) {
    const probe::Args files = probe::positionals(args, {"--plugins", "--out-dir", "--repeat"});
    std::string pluginFolder, outDir, value;
    if (!probe::optionValue(args, "--plugins", pluginFolder) || files.empty()) {
        probe::err("usage: pravel-probe plugdecode --plugins DIR [--out-dir DIR] [--repeat N] FILE...\n");
        return 2;
    }
    const bool wantOut = probe::optionValue(args, "--out-dir", outDir);
    int repeat = 1;
    if (probe::optionValue(args, "--repeat", value)) repeat = std::max(1, std::atoi(value.c_str()));
    const std::wstring folder = probe::toPath(pluginFolder);
    int failures = 0;
    for (const std::string& file : files) {
        const std::wstring path = probe::toPath(file);
        // Every repetition is a complete load: selection, decoding, release.
        double best = 1e300;
        DecodedImage* image = nullptr;
        DecodeCounters counters;
        for (int i = 0; i < repeat; ++i) {
            if (image) pageFree(image->pixels), image->pixels = nullptr;
            const auto start = std::chrono::steady_clock::now();
            image = loadPluginImage(folder.c_str(), path.c_str(), counters);
            best = std::min(best, std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
            if (!image) break;
        }
        std::string json = "{\"file\":" + probe::jsonString(file) + ",\"ok\":" + (image ? "true" : "false");
        if (image) {
            char facts[160];
            std::snprintf(facts, sizeof facts, ",\"width\":%d,\"height\":%d,\"bitCount\":%d,\"sourceDepth\":%d,\"ms\":%.3f",
                          int(image->header.biWidth), int(image->header.biHeight), int(image->header.biBitCount),
                          int(image->sourceDepth), best);
            json += facts;
            if (wantOut) {
                uint8_t* rgb = pixels24(*image);
                DepthConversion c;
                c.width = image->header.biWidth;
                c.height = image->header.biHeight;
                c.sourceDepth = c.targetDepth = 24;
                const std::wstring out = probe::toPath(outDir + "/" + baseName(file) + ".bmp");
                const bool written = rgb && writeBmp(out.c_str(), c, rgb);
                pageFree(rgb);
                json += std::string(",\"written\":") + (written ? "true" : "false");
            }
            pageFree(image->pixels);
            image->pixels = nullptr;
        } else {
            ++failures;
        }
        probe::out(json + "}\n");
    }
    return failures ? 1 : 0;
}

}  // namespace

PROBE_COMMAND(plugins, "plugins FOLDER [--configure NAME]",
              "list the import filters of a plug-in folder, their patterns and summaries; or show one's settings dialog",
              runPlugins);
PROBE_COMMAND(plugdecode, "plugdecode --plugins DIR [--out-dir DIR] [--repeat N] FILE...",
              "decode files through the image plug-ins only; one JSON line each, optional 24-bit bitmaps",
              runPluginDecode);
