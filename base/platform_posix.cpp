// Native (Linux) half of the platform layer, used by the host build's tests, tools,
// fuzzers and benchmarks.
#include "base/platform.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

namespace {

// 100-ns ticks between 1601-01-01 and 1970-01-01.
constexpr uint64_t kEpochDelta = 116444736000000000ULL;

std::string toNative(const wchar_t* path) { return wideToUtf8(path ? std::wstring(path) : std::wstring()); }

int fdOf(void* handle) { return int(reinterpret_cast<intptr_t>(handle)) - 1; }
void* handleOf(int fd) { return reinterpret_cast<void*>(intptr_t(fd) + 1); }

}  // namespace

void* pageAlloc(size_t size) {
    if (size == 0) return nullptr;
    // calloc rather than mmap so that the sanitizers see leaks and overruns of pixel buffers.
    return std::calloc(1, size);
}

void pageFree(void* block) { std::free(block); }

// Under AddressSanitizer the "mapping" is an exactly sized heap copy: reads past the end of
// a file then stop the test or fuzzer at once, where a real mapping would quietly let a
// decoder read the rest of the last page.
#if defined(__SANITIZE_ADDRESS__)
#define PRAVEL_MAP_AS_HEAP_COPY 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define PRAVEL_MAP_AS_HEAP_COPY 1
#endif
#endif

bool mapFile(const wchar_t* path, MappedFile& file) {
    file = MappedFile{};
    int fd = ::open(toNative(path).c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    struct stat st {};
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size <= 0 || uint64_t(st.st_size) > 0xFFFFFFFFull) {
        ::close(fd);
        return false;
    }
#ifdef PRAVEL_MAP_AS_HEAP_COPY
    void* view = std::malloc(size_t(st.st_size));
    size_t got = 0;
    while (view && got < size_t(st.st_size)) {
        ssize_t n = ::read(fd, static_cast<uint8_t*>(view) + got, size_t(st.st_size) - got);
        if (n <= 0) break;
        got += size_t(n);
    }
    if (!view || got != size_t(st.st_size)) {
        std::free(view);
        ::close(fd);
        return false;
    }
    file.mappingHandle = view;  // marks the heap copy for unmapFile
#else
    void* view = mmap(nullptr, size_t(st.st_size), PROT_READ, MAP_PRIVATE, fd, 0);
    if (view == MAP_FAILED) {
        ::close(fd);
        return false;
    }
#endif
    file.data = static_cast<const uint8_t*>(view);
    file.size = uint32_t(st.st_size);
    file.fileHandle = handleOf(fd);
    return true;
}

void unmapFile(MappedFile& file) {
    if (file.mappingHandle) std::free(file.mappingHandle);
    else if (file.data) munmap(const_cast<uint8_t*>(file.data), file.size);
    if (file.fileHandle) ::close(fdOf(file.fileHandle));
    file = MappedFile{};
}

bool FileViews::open(const wchar_t* path) {
    close();
    int fd = ::open(toNative(path).c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    struct stat st {};
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return false;
    }
    fileHandle_ = handleOf(fd);
    size_ = uint64_t(st.st_size);
    return true;
}

void FileViews::close() {
    if (fileHandle_) ::close(fdOf(fileHandle_));
    fileHandle_ = nullptr;
    size_ = 0;
}

size_t FileViews::granularity() {
    static const size_t page = [] {
        const long n = sysconf(_SC_PAGESIZE);
        return n > 0 ? size_t(n) : size_t(4096);
    }();
    return page;
}

// Under AddressSanitizer a view is an exactly sized heap copy, as mapFile's is.
const uint8_t* FileViews::mapView(uint64_t offset, size_t size, void*& base, size_t& length) {
    base = nullptr;
    length = 0;
    if (!fileHandle_ || size == 0 || offset > size_ || size > size_ - offset) return nullptr;
#ifdef PRAVEL_MAP_AS_HEAP_COPY
    auto* copy = static_cast<uint8_t*>(std::malloc(size));
    size_t got = 0;
    while (copy && got < size) {
        const ssize_t n = ::pread(fdOf(fileHandle_), copy + got, size - got, off_t(offset + got));
        if (n <= 0) break;
        got += size_t(n);
    }
    if (!copy || got != size) {
        std::free(copy);
        return nullptr;
    }
    base = copy;
    length = size;
    return copy;
#else
    const uint64_t start = offset - offset % granularity();
    const size_t span = size_t(offset - start) + size;
    void* view = mmap(nullptr, span, PROT_READ, MAP_PRIVATE, fdOf(fileHandle_), off_t(start));
    if (view == MAP_FAILED) return nullptr;
    base = view;
    length = span;
    return static_cast<const uint8_t*>(view) + (offset - start);
#endif
}

void FileViews::unmapView(void* base, size_t length) {
    if (!base) return;
#ifdef PRAVEL_MAP_AS_HEAP_COPY
    (void)length;
    std::free(base);
#else
    munmap(base, length);
#endif
}

bool pathExists(const wchar_t* path) {
    struct stat st {};
    return stat(toNative(path).c_str(), &st) == 0;
}

bool isDirectory(const wchar_t* path) {
    struct stat st {};
    return stat(toNative(path).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool isFile(const wchar_t* path) {
    if (!path || !*path) return false;
    struct stat st {};
    return stat(toNative(path).c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

bool getLastWriteTime(const wchar_t* path, FileTime& time) {
    struct stat st {};
    if (stat(toNative(path).c_str(), &st) != 0) return false;
    uint64_t ticks = uint64_t(st.st_mtim.tv_sec) * 10000000ULL + uint64_t(st.st_mtim.tv_nsec) / 100 + kEpochDelta;
    time = FileTime::fromValue(ticks);
    return true;
}

bool setLastWriteTime(const wchar_t* path, const FileTime& time) {
    uint64_t ticks = time.value() - kEpochDelta;
    struct timespec times[2];
    times[0].tv_sec = 0;
    times[0].tv_nsec = UTIME_OMIT;
    times[1].tv_sec = time_t(ticks / 10000000ULL);
    times[1].tv_nsec = long(ticks % 10000000ULL) * 100;
    return utimensat(AT_FDCWD, toNative(path).c_str(), times, 0) == 0;
}

bool deleteFileAt(const wchar_t* path) { return unlink(toNative(path).c_str()) == 0; }

bool createDirectoryAt(const wchar_t* path) { return mkdir(toNative(path).c_str(), 0777) == 0; }

bool replaceFileWith(const wchar_t* source, const wchar_t* target) {
    return std::rename(toNative(source).c_str(), toNative(target).c_str()) == 0;
}

// Natively the sanitizers find leaked blocks and descriptors; nothing is counted here.
PlatformLiveCounts platformLiveCounts() { return PlatformLiveCounts{}; }

bool BinaryFile::open(const wchar_t* path, Mode mode) {
    close();
    int flags = O_CLOEXEC;
    switch (mode) {
        case ReadOnly: flags |= O_RDONLY; break;
        case ReadWriteExisting: flags |= O_RDWR; break;
        case CreateTruncate: flags |= O_RDWR | O_CREAT | O_TRUNC; break;
        case OpenOrCreate: flags |= O_RDWR | O_CREAT; break;
    }
    int fd = ::open(toNative(path).c_str(), flags, 0666);
    if (fd < 0) return false;
    struct stat st {};
    if (fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
        ::close(fd);
        return false;
    }
    handle_ = handleOf(fd);
    return true;
}

void BinaryFile::close() {
    if (handle_) ::close(fdOf(handle_));
    handle_ = nullptr;
}

bool BinaryFile::read(void* buffer, size_t size) {
    auto* p = static_cast<uint8_t*>(buffer);
    while (size > 0) {
        ssize_t n = ::read(fdOf(handle_), p, size);
        if (n <= 0) return false;
        p += n;
        size -= size_t(n);
    }
    return true;
}

bool BinaryFile::write(const void* buffer, size_t size) {
    auto* p = static_cast<const uint8_t*>(buffer);
    while (size > 0) {
        ssize_t n = ::write(fdOf(handle_), p, size);
        if (n <= 0) return false;
        p += n;
        size -= size_t(n);
    }
    return true;
}

bool BinaryFile::seek(uint64_t offset) { return lseek(fdOf(handle_), off_t(offset), SEEK_SET) == off_t(offset); }

uint64_t BinaryFile::size() const {
    struct stat st {};
    return fstat(fdOf(handle_), &st) == 0 ? uint64_t(st.st_size) : 0;
}

uint64_t BinaryFile::tell() const {
    off_t pos = lseek(fdOf(handle_), 0, SEEK_CUR);
    return pos < 0 ? 0 : uint64_t(pos);
}

bool BinaryFile::truncateHere() { return ftruncate(fdOf(handle_), off_t(tell())) == 0; }

std::string wideToUtf8(const std::wstring& text) {
    std::string out;
    out.reserve(text.size());
    for (wchar_t wc : text) {
        uint32_t c = uint32_t(wc);
        if (c < 0x80) {
            out += char(c);
        } else if (c < 0x800) {
            out += char(0xC0 | (c >> 6));
            out += char(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out += char(0xE0 | (c >> 12));
            out += char(0x80 | ((c >> 6) & 0x3F));
            out += char(0x80 | (c & 0x3F));
        } else {
            out += char(0xF0 | (c >> 18));
            out += char(0x80 | ((c >> 12) & 0x3F));
            out += char(0x80 | ((c >> 6) & 0x3F));
            out += char(0x80 | (c & 0x3F));
        }
    }
    return out;
}

std::wstring utf8ToWide(const std::string& text) {
    std::wstring out;
    size_t i = 0;
    while (i < text.size()) {
        uint8_t b = uint8_t(text[i]);
        uint32_t c;
        size_t extra;
        if (b < 0x80) { c = b; extra = 0; }
        else if ((b & 0xE0) == 0xC0) { c = b & 0x1F; extra = 1; }
        else if ((b & 0xF0) == 0xE0) { c = b & 0x0F; extra = 2; }
        else if ((b & 0xF8) == 0xF0) { c = b & 0x07; extra = 3; }
        else { c = 0xFFFD; extra = 0; }
        ++i;
        for (size_t k = 0; k < extra; ++k, ++i) {
            if (i >= text.size() || (uint8_t(text[i]) & 0xC0) != 0x80) { c = 0xFFFD; break; }
            c = (c << 6) | (uint8_t(text[i]) & 0x3F);
        }
        out += wchar_t(c);
    }
    return out;
}
