// The shipped Windows modules load on the oldest Windows the program supports: every DLL they
// import is a system DLL of that Windows, every imported function is in the reviewed list
// (windows_imports.txt) with a minimum version no newer than the floor, and the PE header asks
// for no newer OS or subsystem. Floors: 5.1 for the i686 build, 5.2 for the x86_64 build (the
// first 64-bit Windows). Modules: build/win/Pravel.exe, build/win64/Pravel.exe and every plug-in
// <build>/plugins/*.spi found at test time.
//
// The Windows builds are made after this host build, so the files are read when the test runs.
// A missing Pravel.exe fails the test when its build folder has been configured (test.sh always
// configures and builds both before it runs the tests) or when PRAVEL_REQUIRE_WINDOWS_BUILDS=1;
// in a host-only checkout it is reported as skipped.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include <unistd.h>

namespace fs = std::filesystem;

namespace {

// ------------------------------------------------------------------ PE reading

struct ImportedDll {
    std::string name;
    std::vector<std::string> functions;  // by-ordinal imports as "#N"
    bool delayed = false;
};

struct PeImage {
    uint16_t machine = 0;
    bool pe32plus = false;
    uint16_t subsystem = 0;
    uint16_t osMajor = 0, osMinor = 0;
    uint16_t subsystemMajor = 0, subsystemMinor = 0;
    std::vector<ImportedDll> imports;
};

constexpr uint16_t kMachineI386 = 0x014c;
constexpr uint16_t kMachineAmd64 = 0x8664;

// Every read is checked against the end of the file; a failed read makes the parse fail.
class Bytes {
public:
    explicit Bytes(const std::vector<uint8_t>& data) : data_(data) {}
    size_t size() const { return data_.size(); }
    bool has(uint64_t offset, uint64_t length) const {
        return offset <= data_.size() && length <= data_.size() - offset;
    }
    bool u16(uint64_t offset, uint16_t& v) const {
        if (!has(offset, 2)) return false;
        v = uint16_t(data_[offset] | data_[offset + 1] << 8);
        return true;
    }
    bool u32(uint64_t offset, uint32_t& v) const {
        if (!has(offset, 4)) return false;
        v = uint32_t(data_[offset]) | uint32_t(data_[offset + 1]) << 8 | uint32_t(data_[offset + 2]) << 16 |
            uint32_t(data_[offset + 3]) << 24;
        return true;
    }
    bool u64(uint64_t offset, uint64_t& v) const {
        uint32_t lo = 0, hi = 0;
        if (!u32(offset, lo) || !u32(offset + 4, hi)) return false;
        v = uint64_t(hi) << 32 | lo;
        return true;
    }
    // A NUL-terminated string that ends inside the file and within maxLength characters.
    bool cstring(uint64_t offset, size_t maxLength, std::string& out) const {
        out.clear();
        for (size_t i = 0; i <= maxLength; ++i) {
            if (!has(offset + i, 1)) return false;
            char c = char(data_[offset + i]);
            if (c == 0) return !out.empty();
            out.push_back(c);
        }
        return false;
    }

private:
    const std::vector<uint8_t>& data_;
};

struct Section {
    uint32_t virtualAddress, virtualSize, rawSize, rawOffset;
};

class PeReader {
public:
    explicit PeReader(const std::vector<uint8_t>& data) : bytes_(data) {}

    // Returns "" on success, else what was wrong.
    std::string parse(PeImage& image) {
        image = PeImage{};
        uint16_t mz = 0;
        uint32_t peOffset = 0, signature = 0;
        if (!bytes_.u16(0, mz) || mz != 0x5a4d) return "no MZ header";
        if (!bytes_.u32(0x3c, peOffset) || !bytes_.u32(peOffset, signature) || signature != 0x00004550)
            return "no PE signature";
        const uint64_t coff = uint64_t(peOffset) + 4;
        uint16_t sectionCount = 0, optionalSize = 0;
        if (!bytes_.u16(coff, image.machine) || !bytes_.u16(coff + 2, sectionCount) ||
            !bytes_.u16(coff + 16, optionalSize))
            return "COFF header cut short";
        const uint64_t opt = coff + 20;
        uint16_t magic = 0;
        if (!bytes_.u16(opt, magic)) return "optional header cut short";
        if (magic != 0x10b && magic != 0x20b) return "unknown optional-header magic";
        image.pe32plus = magic == 0x20b;
        if (image.pe32plus) {
            if (!bytes_.u64(opt + 24, imageBase_)) return "optional header cut short";
        } else {
            uint32_t base = 0;
            if (!bytes_.u32(opt + 28, base)) return "optional header cut short";
            imageBase_ = base;
        }
        uint32_t headersSize = 0, directoryCount = 0;
        if (!bytes_.u16(opt + 40, image.osMajor) || !bytes_.u16(opt + 42, image.osMinor) ||
            !bytes_.u16(opt + 48, image.subsystemMajor) || !bytes_.u16(opt + 50, image.subsystemMinor) ||
            !bytes_.u32(opt + 60, headersSize) || !bytes_.u16(opt + 68, image.subsystem) ||
            !bytes_.u32(opt + (image.pe32plus ? 108 : 92), directoryCount))
            return "optional header cut short";
        headersSize_ = headersSize;
        const uint64_t directories = opt + (image.pe32plus ? 112 : 96);
        auto directory = [&](uint32_t index, uint32_t& rva, uint32_t& size) {
            rva = size = 0;
            if (index >= directoryCount) return true;
            const uint64_t at = directories + uint64_t(index) * 8;
            if (at + 8 > opt + optionalSize) return false;
            return bytes_.u32(at, rva) && bytes_.u32(at + 4, size);
        };
        const uint64_t sectionTable = opt + optionalSize;
        for (uint16_t i = 0; i < sectionCount; ++i) {
            const uint64_t at = sectionTable + uint64_t(i) * 40;
            Section s{};
            if (!bytes_.u32(at + 8, s.virtualSize) || !bytes_.u32(at + 12, s.virtualAddress) ||
                !bytes_.u32(at + 16, s.rawSize) || !bytes_.u32(at + 20, s.rawOffset))
                return "section table cut short";
            sections_.push_back(s);
        }
        uint32_t importRva = 0, importSize = 0, delayRva = 0, delaySize = 0;
        if (!directory(1, importRva, importSize) || !directory(13, delayRva, delaySize))
            return "data directories cut short";
        if (importRva) {
            std::string error = readImports(importRva, image);
            if (!error.empty()) return error;
        }
        if (delayRva) {
            std::string error = readDelayImports(delayRva, image);
            if (!error.empty()) return error;
        }
        return "";
    }

private:
    static constexpr size_t kMaxDlls = 4096;
    static constexpr size_t kMaxFunctions = 65536;
    static constexpr size_t kMaxName = 4096;

    // File offset of `length` bytes at `rva`, only when they are all stored in the file.
    std::optional<uint64_t> offsetOf(uint64_t rva, uint64_t length) const {
        if (rva < headersSize_ && bytes_.has(rva, length)) return rva;
        for (const Section& s : sections_) {
            if (rva < s.virtualAddress) continue;
            const uint64_t into = rva - s.virtualAddress;
            if (into >= std::max(s.virtualSize, s.rawSize)) continue;
            if (into + length > s.rawSize) return std::nullopt;
            const uint64_t offset = uint64_t(s.rawOffset) + into;
            if (!bytes_.has(offset, length)) return std::nullopt;
            return offset;
        }
        return std::nullopt;
    }
    bool u32At(uint64_t rva, uint32_t& v) const {
        auto at = offsetOf(rva, 4);
        return at && bytes_.u32(*at, v);
    }
    bool thunkAt(uint64_t rva, bool wide, uint64_t& v) const {
        auto at = offsetOf(rva, wide ? 8 : 4);
        if (!at) return false;
        if (wide) return bytes_.u64(*at, v);
        uint32_t narrow = 0;
        if (!bytes_.u32(*at, narrow)) return false;
        v = narrow;
        return true;
    }
    // A string at an RVA that ends inside the stored bytes of the section it starts in.
    bool stringAt(uint64_t rva, std::string& out) const {
        auto at = offsetOf(rva, 1);
        return at && bytes_.cstring(*at, kMaxName, out) && offsetOf(rva, out.size() + 1).has_value();
    }

    std::string readThunks(uint64_t lookupRva, bool wide, ImportedDll& dll) const {
        const uint64_t ordinalFlag = wide ? (uint64_t(1) << 63) : 0x80000000u;
        for (size_t i = 0;; ++i) {
            if (i >= kMaxFunctions) return dll.name + ": import list without an end";
            uint64_t thunk = 0;
            if (!thunkAt(lookupRva + i * (wide ? 8 : 4), wide, thunk)) return dll.name + ": import list cut short";
            if (thunk == 0) return "";
            if (thunk & ordinalFlag) {
                dll.functions.push_back("#" + std::to_string(thunk & 0xffff));
                continue;
            }
            std::string name;
            if ((thunk >> 32) != 0 || !stringAt((thunk & 0xffffffffu) + 2, name))
                return dll.name + ": function name outside the file";
            dll.functions.push_back(name);
        }
    }

    std::string readImports(uint32_t rva, PeImage& image) const {
        for (size_t i = 0;; ++i) {
            if (i >= kMaxDlls) return "import table without an end";
            const uint64_t at = uint64_t(rva) + i * 20;
            uint32_t lookup = 0, name = 0, addresses = 0;
            if (!u32At(at, lookup) || !u32At(at + 12, name) || !u32At(at + 16, addresses))
                return "import table cut short";
            if (lookup == 0 && name == 0 && addresses == 0) return "";
            ImportedDll dll;
            if (!stringAt(name, dll.name)) return "imported DLL name outside the file";
            std::string error = readThunks(lookup ? lookup : addresses, image.pe32plus, dll);
            if (!error.empty()) return error;
            image.imports.push_back(std::move(dll));
        }
    }

    std::string readDelayImports(uint32_t rva, PeImage& image) const {
        for (size_t i = 0;; ++i) {
            if (i >= kMaxDlls) return "delay-import table without an end";
            const uint64_t at = uint64_t(rva) + i * 32;
            uint32_t attributes = 0, name = 0, names = 0;
            if (!u32At(at, attributes) || !u32At(at + 4, name) || !u32At(at + 16, names))
                return "delay-import table cut short";
            if (name == 0) return "";
            // Old descriptors hold addresses instead of RVAs.
            uint64_t nameRva = name, namesRva = names;
            if (!(attributes & 1)) {
                if (name < imageBase_ || names < imageBase_) return "delay-import address below the image base";
                nameRva -= imageBase_;
                namesRva -= imageBase_;
            }
            ImportedDll dll;
            dll.delayed = true;
            if (!stringAt(nameRva, dll.name)) return "delay-loaded DLL name outside the file";
            std::string error = readThunks(namesRva, image.pe32plus, dll);
            if (!error.empty()) return error;
            image.imports.push_back(std::move(dll));
        }
    }

    Bytes bytes_;
    std::vector<Section> sections_;
    uint64_t imageBase_ = 0;
    uint64_t headersSize_ = 0;
};

// ------------------------------------------------------------------ the reviewed list

struct Version {
    int major = 0, minor = 0;
    bool operator<=(const Version& o) const { return major < o.major || (major == o.major && minor <= o.minor); }
    std::string text() const { return std::to_string(major) + "." + std::to_string(minor); }
};

struct Allowed {
    Version since;
    bool x64Only = false;
};

struct AllowList {
    std::map<std::string, Version> dlls;                                // lower-case name
    std::map<std::pair<std::string, std::string>, Allowed> functions;  // (lower-case dll, function)
    std::vector<std::string> errors;
};

std::string lower(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return char(std::tolower(c)); });
    return s;
}

bool parseVersion(const std::string& text, Version& v) {
    char dot = 0;
    std::istringstream in(text);
    return bool(in >> v.major >> dot >> v.minor) && dot == '.' && in.peek() == EOF;
}

AllowList readAllowList(const std::string& text) {
    AllowList list;
    std::istringstream in(text);
    std::string line;
    for (int number = 1; std::getline(in, line); ++number) {
        if (auto hash = line.find('#'); hash != std::string::npos) line.erase(hash);
        std::istringstream words(line);
        std::vector<std::string> w;
        for (std::string word; words >> word;) w.push_back(word);
        if (w.empty()) continue;
        Version v;
        const std::string where = "windows_imports.txt:" + std::to_string(number) + ": ";
        if (w[0] == "dll" && w.size() == 3 && parseVersion(w[2], v)) {
            list.dlls[lower(w[1])] = v;
        } else if (w.size() >= 3 && w.size() <= 4 && parseVersion(w[2], v) && (w.size() == 3 || w[3] == "x64")) {
            auto key = std::make_pair(lower(w[0]), w[1]);
            if (list.functions.count(key)) list.errors.push_back(where + "listed twice: " + w[1]);
            if (!list.dlls.count(key.first)) list.errors.push_back(where + "DLL without a dll line: " + w[0]);
            list.functions[key] = Allowed{v, w.size() == 4};
        } else {
            list.errors.push_back(where + "not understood: " + line);
        }
    }
    return list;
}

struct Floor {
    uint16_t machine;
    Version windows;
};
const Floor kFloor32{kMachineI386, {5, 1}};
const Floor kFloor64{kMachineAmd64, {5, 2}};

// Everything that would stop the module from loading on the floor's Windows, one line each.
std::vector<std::string> loadProblems(const PeImage& image, const AllowList& list, const Floor& floor) {
    std::vector<std::string> problems;
    const bool is64 = floor.machine == kMachineAmd64;
    if (image.machine != floor.machine) problems.push_back("machine type is not " + std::string(is64 ? "x86-64" : "i386"));
    if (image.pe32plus != is64) problems.push_back("optional header is not " + std::string(is64 ? "PE32+" : "PE32"));
    if (!(Version{image.subsystemMajor, image.subsystemMinor} <= floor.windows))
        problems.push_back("subsystem version " + Version{image.subsystemMajor, image.subsystemMinor}.text() +
                           " is above " + floor.windows.text());
    if (!(Version{image.osMajor, image.osMinor} <= floor.windows))
        problems.push_back("OS version " + Version{image.osMajor, image.osMinor}.text() + " is above " +
                           floor.windows.text());
    for (const ImportedDll& dll : image.imports) {
        const std::string name = lower(dll.name);
        auto known = list.dlls.find(name);
        if (known == list.dlls.end() || !(known->second <= floor.windows)) {
            problems.push_back(dll.name + ": not a system DLL of Windows " + floor.windows.text());
            continue;
        }
        for (const std::string& function : dll.functions) {
            auto entry = list.functions.find({name, function});
            if (entry == list.functions.end()) {
                problems.push_back(dll.name + " " + function + ": not in the reviewed list");
            } else if (!(entry->second.since <= floor.windows) || (entry->second.x64Only && !is64)) {
                problems.push_back(dll.name + " " + function + ": needs Windows " + entry->second.since.text() +
                                   (entry->second.x64Only ? " x64" : "") + "; load it at run time");
            }
        }
    }
    return problems;
}

// ------------------------------------------------------------------ files

std::vector<uint8_t> readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

AllowList theAllowList() {
    std::vector<uint8_t> bytes = readFile(fs::path(PRAVEL_SOURCE_DIR) / "tests/host/windows_imports.txt");
    return readAllowList(std::string(bytes.begin(), bytes.end()));
}

fs::path buildArea() { return fs::path(PRAVEL_BUILD_AREA); }

bool windowsBuildRequired(const fs::path& buildDir) {
    const char* env = std::getenv("PRAVEL_REQUIRE_WINDOWS_BUILDS");
    return (env && std::string(env) == "1") || fs::exists(buildDir / "CMakeCache.txt");
}

// Records one failure for each thing that would stop the module from loading.
void expectLoads(const fs::path& path, const Floor& floor, const AllowList& list) {
    PeImage image;
    const std::string error = PeReader(readFile(path)).parse(image);
    ASSERT_EQ(error, "") << path << " is not a readable PE file";
    size_t functions = 0;
    for (const auto& dll : image.imports) functions += dll.functions.size();
    std::printf("%s: %zu DLLs, %zu functions, subsystem %u.%u\n", path.string().c_str(), image.imports.size(),
                functions, image.subsystemMajor, image.subsystemMinor);
    EXPECT_GT(functions, 0u) << "no imports read from " << path;
    for (const std::string& problem : loadProblems(image, list, floor)) ADD_FAILURE() << path.string() << ": " << problem;
}

void checkBuild(const std::string& buildName, const Floor& floor) {
    const AllowList list = theAllowList();
    ASSERT_TRUE(list.errors.empty()) << list.errors.front();
    const fs::path dir = buildArea() / buildName;
    const fs::path exe = dir / "Pravel.exe";
    if (!fs::exists(exe)) {
        if (windowsBuildRequired(dir))
            FAIL() << exe << " is missing although " << dir << " is configured: build the Pravel target first";
        GTEST_SKIP() << exe << " not built (no Windows build configured in " << dir << ")";
    }
    expectLoads(exe, floor, list);
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(dir / "plugins", ec)) {
        if (lower(entry.path().extension().string()) == ".spi") expectLoads(entry.path(), floor, list);
    }
}

TEST(ShippedModules, I686BuildLoadsOnWindows51) { checkBuild("win", kFloor32); }
TEST(ShippedModules, X64BuildLoadsOnWindows52) { checkBuild("win64", kFloor64); }

// Every file of a package made by dist.sh: each program file (whatever its name) loads on the
// floor of its build, and everything else is a document (help, read-me, licence texts).
void checkPackage(const std::string& suffix, const Floor& floor, bool required) {
    const AllowList list = theAllowList();
    ASSERT_TRUE(list.errors.empty()) << list.errors.front();
    std::vector<fs::path> zips;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(buildArea() / "dist", ec)) {
        const std::string name = entry.path().filename().string();
        if (name.rfind("Pravel-", 0) == 0 && name.size() > suffix.size() + 4 &&
            name.compare(name.size() - suffix.size() - 4, std::string::npos, suffix + ".zip") == 0)
            zips.push_back(entry.path());
    }
    if (zips.empty()) {
        if (required) FAIL() << "no build/dist/Pravel-*-" << suffix << ".zip: run ./dist.sh";
        GTEST_SKIP() << "no " << suffix << " package built";
    }
    for (const fs::path& zip : zips) {
        const fs::path out = fs::temp_directory_path() / ("pravel_pe_" + suffix + "_" + std::to_string(::getpid()));
        fs::remove_all(out);
        const std::string command = "python3 -m zipfile -e '" + zip.string() + "' '" + out.string() + "'";
        ASSERT_EQ(std::system(command.c_str()), 0) << command;
        int modules = 0, documents = 0;
        for (const auto& entry : fs::recursive_directory_iterator(out)) {
            if (!entry.is_regular_file()) continue;
            const std::vector<uint8_t> head = readFile(entry.path());
            const std::string extension = lower(entry.path().extension().string());
            if (head.size() >= 2 && head[0] == 'M' && head[1] == 'Z') {
                expectLoads(entry.path(), floor, list);
                ++modules;
            } else if (extension == ".chm" || extension == ".txt") {
                ++documents;
            } else {
                ADD_FAILURE() << zip << ": " << entry.path().filename() << " is neither a program file nor a document";
            }
        }
        EXPECT_GE(modules, 3) << zip << ": the program and at least its two plug-ins";
        EXPECT_GE(documents, 3) << zip;
        fs::remove_all(out);
    }
}

TEST(ShippedModules, ReleasePackageLoadsOnWindows51) {
    const char* env = std::getenv("PRAVEL_REQUIRE_WINDOWS_BUILDS");
    checkPackage("win32", kFloor32, env && std::string(env) == "1");
}
TEST(ShippedModules, X64PackageLoadsOnWindows52) { checkPackage("win64", kFloor64, false); }

// ------------------------------------------------------------------ the checker itself

// A small PE file laid out by hand: headers, then one section holding the import table, the
// name lists and the strings; the file ends with the last string's terminator.
struct TinyPe {
    bool wide = false;
    std::vector<std::pair<std::string, std::vector<std::string>>> dlls;
    uint16_t subsystemMajor = 5, subsystemMinor = 1;

    std::vector<uint8_t> build() const {
        const uint32_t peOffset = 0x40, sectionRva = 0x1000, fileAlign = 0x200;
        const uint32_t optSize = wide ? 240 : 224;
        const uint32_t thunk = wide ? 8 : 4;
        std::vector<uint8_t> f(fileAlign, 0);
        auto put16 = [&](size_t at, uint32_t v) { f[at] = uint8_t(v); f[at + 1] = uint8_t(v >> 8); };
        auto put32 = [&](size_t at, uint32_t v) { for (int i = 0; i < 4; ++i) f[at + i] = uint8_t(v >> (8 * i)); };
        put16(0, 0x5a4d);
        put32(0x3c, peOffset);
        put32(peOffset, 0x00004550);
        const size_t coff = peOffset + 4, opt = coff + 20;
        put16(coff, wide ? kMachineAmd64 : kMachineI386);
        put16(coff + 2, 1);
        put16(coff + 16, optSize);
        put16(opt, wide ? 0x20b : 0x10b);
        put32(opt + (wide ? 24 : 28), 0x400000);
        put16(opt + 40, subsystemMajor);
        put16(opt + 42, subsystemMinor);
        put16(opt + 48, subsystemMajor);
        put16(opt + 50, subsystemMinor);
        put32(opt + 60, fileAlign);
        put16(opt + 68, 2);
        put32(opt + (wide ? 108 : 92), 16);
        const size_t dirs = opt + (wide ? 112 : 96);
        put32(dirs + 8, sectionRva);  // import directory
        put32(dirs + 12, uint32_t((dlls.size() + 1) * 20));

        // Section body: descriptors, then per DLL its name list, then all strings.
        std::vector<uint8_t> body((dlls.size() + 1) * 20, 0);
        std::vector<size_t> listAt;
        for (const auto& d : dlls) {
            listAt.push_back(body.size());
            body.resize(body.size() + (d.second.size() + 1) * thunk, 0);
        }
        auto putBody = [&](size_t at, uint64_t v, uint32_t n) { for (uint32_t i = 0; i < n; ++i) body[at + i] = uint8_t(v >> (8 * i)); };
        for (size_t i = 0; i < dlls.size(); ++i) {
            for (size_t k = 0; k < dlls[i].second.size(); ++k) {
                const std::string& fn = dlls[i].second[k];
                uint64_t value;
                if (fn[0] == '#') {
                    value = (wide ? uint64_t(1) << 63 : 0x80000000u) | uint64_t(std::stoul(fn.substr(1)));
                } else {
                    value = sectionRva + body.size();
                    body.push_back(0);  // hint
                    body.push_back(0);
                    body.insert(body.end(), fn.begin(), fn.end());
                    body.push_back(0);
                }
                putBody(listAt[i] + k * thunk, value, thunk);
            }
            putBody(i * 20, sectionRva + listAt[i], 4);       // lookup list
            putBody(i * 20 + 16, sectionRva + listAt[i], 4);  // address list (same here)
            putBody(i * 20 + 12, sectionRva + body.size(), 4);
            body.insert(body.end(), dlls[i].first.begin(), dlls[i].first.end());
            body.push_back(0);
        }
        const size_t sec = opt + optSize;
        std::memcpy(&f[sec], ".idata\0", 8);
        put32(sec + 8, uint32_t(body.size()));
        put32(sec + 12, sectionRva);
        put32(sec + 16, uint32_t(body.size()));
        put32(sec + 20, fileAlign);
        f.insert(f.end(), body.begin(), body.end());
        return f;
    }
};

TinyPe sample(bool wide) {
    TinyPe pe;
    pe.wide = wide;
    pe.dlls = {{"KERNEL32.dll", {"GetTickCount", "Sleep"}}, {"USER32.dll", {"#42", "PostMessageW"}}};
    return pe;
}

TEST(PeReader, ReadsImportsOfBothWidths) {
    for (bool wide : {false, true}) {
        SCOPED_TRACE(wide ? "PE32+" : "PE32");
        PeImage image;
        ASSERT_EQ(PeReader(sample(wide).build()).parse(image), "");
        EXPECT_EQ(image.machine, wide ? kMachineAmd64 : kMachineI386);
        ASSERT_EQ(image.imports.size(), 2u);
        EXPECT_EQ(image.imports[0].name, "KERNEL32.dll");
        EXPECT_EQ(image.imports[0].functions, (std::vector<std::string>{"GetTickCount", "Sleep"}));
        EXPECT_EQ(image.imports[1].functions, (std::vector<std::string>{"#42", "PostMessageW"}));
        EXPECT_EQ(image.subsystemMajor, 5);
        EXPECT_EQ(image.subsystemMinor, 1);
    }
}

// Every shortened copy is refused (the file's last byte is needed), and no damaged field makes
// the reader look outside the buffer (the sanitizer build would stop on that).
TEST(PeReader, RefusesCutAndDamagedFilesWithoutReadingOutside) {
    for (bool wide : {false, true}) {
        const std::vector<uint8_t> whole = sample(wide).build();
        for (size_t length = 0; length < whole.size(); ++length) {
            std::vector<uint8_t> cut(whole.begin(), whole.begin() + length);
            PeImage image;
            EXPECT_NE(PeReader(cut).parse(image), "") << "cut at " << length;
        }
        for (size_t at = 0; at + 4 <= whole.size(); ++at) {
            for (uint32_t value : {0xffffffffu, 0x7ffffff0u, 0x1000u}) {
                std::vector<uint8_t> damaged = whole;
                for (int i = 0; i < 4; ++i) damaged[at + i] = uint8_t(value >> (8 * i));
                PeImage image;
                PeReader(damaged).parse(image);  // any result but a read outside
            }
        }
    }
}

TEST(ImportRules, NameWhatStopsALoad) {
    AllowList list = readAllowList(
        "dll kernel32.dll 3.1\n"
        "dll user32.dll 3.1\n"
        "kernel32.dll GetTickCount 5.0\n"
        "kernel32.dll Sleep 5.1\n"
        "kernel32.dll GetTickCount64 6.0\n"
        "kernel32.dll RtlVirtualUnwind 5.2 x64\n"
        "user32.dll PostMessageW 5.0\n");
    ASSERT_TRUE(list.errors.empty());

    TinyPe pe = sample(false);
    pe.dlls[1].second = {"PostMessageW"};
    auto problems = [&](const TinyPe& p, const Floor& floor) {
        PeImage image;
        EXPECT_EQ(PeReader(p.build()).parse(image), "");
        return loadProblems(image, list, floor);
    };
    EXPECT_TRUE(problems(pe, kFloor32).empty());

    TinyPe newer = pe;  // the import that stopped the program on 5.1
    newer.dlls[0].second.push_back("GetTickCount64");
    EXPECT_EQ(problems(newer, kFloor32),
              (std::vector<std::string>{"KERNEL32.dll GetTickCount64: needs Windows 6.0; load it at run time"}));

    TinyPe foreign = pe;  // a DLL that only Wine ships
    foreign.dlls.push_back({"zlib1.dll", {"inflate"}});
    EXPECT_EQ(problems(foreign, kFloor32), (std::vector<std::string>{"zlib1.dll: not a system DLL of Windows 5.1"}));

    TinyPe unknown = pe;
    unknown.dlls[1].second.push_back("#7");
    EXPECT_EQ(problems(unknown, kFloor32), (std::vector<std::string>{"USER32.dll #7: not in the reviewed list"}));

    TinyPe x64only = pe;  // allowed in the 64-bit build only
    x64only.dlls[0].second.push_back("RtlVirtualUnwind");
    EXPECT_EQ(problems(x64only, kFloor32).size(), 1u);
    TinyPe wide = x64only;
    wide.wide = true;
    EXPECT_TRUE(problems(wide, kFloor64).empty());
    EXPECT_EQ(problems(wide, kFloor32).size(), 3u);  // machine, header kind, x64-only function

    TinyPe vista = pe;
    vista.subsystemMajor = 6;
    vista.subsystemMinor = 0;
    EXPECT_EQ(problems(vista, kFloor32),
              (std::vector<std::string>{"subsystem version 6.0 is above 5.1", "OS version 6.0 is above 5.1"}));

    EXPECT_EQ(readAllowList("kernel32.dll Sleep 5.1\nuser32.dll\n").errors.size(), 2u);
}

}  // namespace
