// Windows half of the platform layer (part of the core in the Windows build).
#include "base/platform.h"

#include <windows.h>

#include <atomic>

#include "base/win_handles.h"

namespace {

std::atomic<long> g_livePageBlocks{0};
std::atomic<long> g_liveFileHandles{0};

HANDLE fileOf(void* handle) { return static_cast<HANDLE>(handle); }

// VirtualAlloc hands out address space in 64 KiB steps. A pane holds one small pixel block
// per thumbnail, so a 32-bit process would run out of address space after some 30,000
// thumbnails of any size; blocks below one step come from a heap of their own instead.
constexpr size_t kPageStep = 64 * 1024;

HANDLE smallBlockHeap() {
    static const HANDLE heap = HeapCreate(0, 0, 0);
    return heap;
}

}  // namespace

void* pageAlloc(size_t size) {
    if (size == 0) return nullptr;
    void* block = nullptr;
    if (size < kPageStep) {
        if (HANDLE heap = smallBlockHeap()) block = HeapAlloc(heap, HEAP_ZERO_MEMORY, size);
    }
    if (!block) block = VirtualAlloc(nullptr, size, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
    if (block) ++g_livePageBlocks;
    return block;
}

// A page block starts its own allocation; a heap block never does (the heap's own header
// comes first), so the query tells the two apart.
void pageFree(void* block) {
    if (!block) return;
    --g_livePageBlocks;
    MEMORY_BASIC_INFORMATION info;
    if (VirtualQuery(block, &info, sizeof info) == sizeof info && info.AllocationBase == block)
        VirtualFree(block, 0, MEM_RELEASE);
    else
        HeapFree(smallBlockHeap(), 0, block);
}

bool mapFile(const wchar_t* path, MappedFile& file) {
    file = MappedFile{};
    FileHandle h(
        CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!h) return false;
    DWORD high = 0;
    DWORD low = GetFileSize(h.get(), &high);
    if ((low == INVALID_FILE_SIZE && GetLastError() != NO_ERROR) || high != 0 || low == 0) return false;
    KernelHandle mapping(CreateFileMappingW(h.get(), nullptr, PAGE_READONLY, 0, 0, nullptr));
    if (!mapping) return false;
    MappedView view(MapViewOfFile(mapping.get(), FILE_MAP_READ, 0, 0, 0));
    if (!view) return false;
    // The record owns all three from here; unmapFile gives them back.
    file.data = static_cast<const uint8_t*>(view.release());
    file.size = low;
    file.fileHandle = h.release();
    file.mappingHandle = mapping.release();
    g_liveFileHandles += 2;
    return true;
}

void unmapFile(MappedFile& file) {
    if (file.data) UnmapViewOfFile(file.data);
    if (file.mappingHandle && CloseHandle(file.mappingHandle)) --g_liveFileHandles;
    if (file.fileHandle && CloseHandle(fileOf(file.fileHandle))) --g_liveFileHandles;
    file = MappedFile{};
}

bool FileViews::open(const wchar_t* path) {
    close();
    FileHandle h(CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                             FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!h) return false;
    DWORD high = 0;
    const DWORD low = GetFileSize(h.get(), &high);
    if (low == INVALID_FILE_SIZE && GetLastError() != NO_ERROR) return false;
    const uint64_t size = (uint64_t(high) << 32) | low;
    // An empty file cannot be mapped; it has no views to give either.
    if (size != 0) {
        KernelHandle mapping(CreateFileMappingW(h.get(), nullptr, PAGE_READONLY, 0, 0, nullptr));
        if (!mapping) return false;
        mappingHandle_ = mapping.release();
        ++g_liveFileHandles;
    }
    fileHandle_ = h.release();
    ++g_liveFileHandles;
    size_ = size;
    return true;
}

void FileViews::close() {
    if (mappingHandle_ && CloseHandle(mappingHandle_)) --g_liveFileHandles;
    if (fileHandle_ && CloseHandle(fileOf(fileHandle_))) --g_liveFileHandles;
    mappingHandle_ = nullptr;
    fileHandle_ = nullptr;
    size_ = 0;
}

size_t FileViews::granularity() {
    static const size_t step = [] {
        SYSTEM_INFO info;
        GetSystemInfo(&info);
        return info.dwAllocationGranularity ? size_t(info.dwAllocationGranularity) : size_t(65536);
    }();
    return step;
}

const uint8_t* FileViews::mapView(uint64_t offset, size_t size, void*& base, size_t& length) {
    base = nullptr;
    length = 0;
    if (!mappingHandle_ || size == 0 || offset > size_ || size > size_ - offset) return nullptr;
    const uint64_t start = offset - offset % granularity();
    const SIZE_T span = SIZE_T(offset - start) + size;
    void* view = MapViewOfFile(mappingHandle_, FILE_MAP_READ, DWORD(start >> 32), DWORD(start), span);
    if (!view) return nullptr;
    base = view;
    length = span;
    return static_cast<const uint8_t*>(view) + (offset - start);
}

void FileViews::unmapView(void* base, size_t) {
    if (base) UnmapViewOfFile(base);
}

bool pathExists(const wchar_t* path) { return GetFileAttributesW(path) != INVALID_FILE_ATTRIBUTES; }

bool isDirectory(const wchar_t* path) {
    DWORD a = GetFileAttributesW(path);
    return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
}

bool isFile(const wchar_t* path) {
    if (!path || !*path) return false;
    DWORD a = GetFileAttributesW(path);
    return a != INVALID_FILE_ATTRIBUTES && !(a & FILE_ATTRIBUTE_DIRECTORY);
}

// The attribute query reads the same entry as a directory search, without opening a search
// handle: a folder load asks once per file, and under Wine the search costs several times more.
bool getLastWriteTime(const wchar_t* path, FileTime& time) {
    WIN32_FILE_ATTRIBUTE_DATA fd;
    if (!GetFileAttributesExW(path, GetFileExInfoStandard, &fd)) return false;
    time.low = fd.ftLastWriteTime.dwLowDateTime;
    time.high = fd.ftLastWriteTime.dwHighDateTime;
    return true;
}

bool setLastWriteTime(const wchar_t* path, const FileTime& time) {
    FileHandle h(CreateFileW(path, FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                             FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!h) return false;
    FILETIME ft{time.low, time.high};
    return SetFileTime(h.get(), nullptr, nullptr, &ft) != FALSE;
}

bool deleteFileAt(const wchar_t* path) { return DeleteFileW(path) != FALSE; }

bool createDirectoryAt(const wchar_t* path) { return CreateDirectoryW(path, nullptr) != FALSE; }

bool replaceFileWith(const wchar_t* source, const wchar_t* target) {
    return MoveFileExW(source, target, MOVEFILE_REPLACE_EXISTING) != FALSE;
}

PlatformLiveCounts platformLiveCounts() {
    PlatformLiveCounts counts;
    counts.pageBlocks = g_livePageBlocks.load();
    counts.fileHandles = g_liveFileHandles.load();
    return counts;
}

bool BinaryFile::open(const wchar_t* path, Mode mode) {
    close();
    DWORD access = GENERIC_READ;
    DWORD disposition = OPEN_EXISTING;
    DWORD share = FILE_SHARE_READ;
    switch (mode) {
        case ReadOnly: break;
        case ReadWriteExisting: access |= GENERIC_WRITE; break;
        case CreateTruncate: access |= GENERIC_WRITE; disposition = CREATE_ALWAYS; break;
        case OpenOrCreate: access |= GENERIC_WRITE; disposition = OPEN_ALWAYS; break;
    }
    HANDLE h = CreateFileW(path, access, share, nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    handle_ = h;
    ++g_liveFileHandles;
    return true;
}

void BinaryFile::close() {
    if (handle_ && CloseHandle(fileOf(handle_))) --g_liveFileHandles;
    handle_ = nullptr;
}

bool BinaryFile::read(void* buffer, size_t size) {
    auto* p = static_cast<uint8_t*>(buffer);
    while (size > 0) {
        DWORD chunk = size > 0x40000000 ? 0x40000000 : DWORD(size);
        DWORD got = 0;
        if (!ReadFile(fileOf(handle_), p, chunk, &got, nullptr) || got == 0) return false;
        p += got;
        size -= got;
    }
    return true;
}

bool BinaryFile::write(const void* buffer, size_t size) {
    auto* p = static_cast<const uint8_t*>(buffer);
    while (size > 0) {
        DWORD chunk = size > 0x40000000 ? 0x40000000 : DWORD(size);
        DWORD put = 0;
        if (!WriteFile(fileOf(handle_), p, chunk, &put, nullptr) || put == 0) return false;
        p += put;
        size -= put;
    }
    return true;
}

bool BinaryFile::seek(uint64_t offset) {
    LONG high = LONG(offset >> 32);
    DWORD r = SetFilePointer(fileOf(handle_), LONG(uint32_t(offset)), &high, FILE_BEGIN);
    return !(r == INVALID_SET_FILE_POINTER && GetLastError() != NO_ERROR);
}

uint64_t BinaryFile::size() const {
    DWORD high = 0;
    DWORD low = GetFileSize(fileOf(handle_), &high);
    if (low == INVALID_FILE_SIZE && GetLastError() != NO_ERROR) return 0;
    return (uint64_t(high) << 32) | low;
}

uint64_t BinaryFile::tell() const {
    LONG high = 0;
    DWORD low = SetFilePointer(fileOf(handle_), 0, &high, FILE_CURRENT);
    if (low == INVALID_SET_FILE_POINTER && GetLastError() != NO_ERROR) return 0;
    return (uint64_t(uint32_t(high)) << 32) | low;
}

bool BinaryFile::truncateHere() { return SetEndOfFile(fileOf(handle_)) != FALSE; }

std::string wideToUtf8(const std::wstring& text) {
    if (text.empty()) return {};
    int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), int(text.size()), nullptr, 0, nullptr, nullptr);
    std::string out(size_t(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), int(text.size()), out.data(), n, nullptr, nullptr);
    return out;
}

std::wstring utf8ToWide(const std::string& text) {
    if (text.empty()) return {};
    int n = MultiByteToWideChar(CP_UTF8, 0, text.data(), int(text.size()), nullptr, 0);
    std::wstring out(size_t(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), int(text.size()), out.data(), n);
    return out;
}
