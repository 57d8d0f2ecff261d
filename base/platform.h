// The portable core's small platform layer: page allocation, read-only file mapping,
// file times and plain file I/O. Windows implementation in platform_win.cpp, native
// (POSIX) one in platform_posix.cpp. Paths are wide strings: UTF-16 on Windows; on
// POSIX, wchar_t code points that the layer converts to UTF-8 at the system call.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// Same layout as the Win32 FILETIME (two 32-bit halves, low first): 100-ns units since 1601.
struct FileTime {
    uint32_t low = 0;
    uint32_t high = 0;
    uint64_t value() const { return (uint64_t(high) << 32) | low; }
    static FileTime fromValue(uint64_t v) { return FileTime{uint32_t(v), uint32_t(v >> 32)}; }
    bool operator==(const FileTime& o) const { return low == o.low && high == o.high; }
};

// Committed, zero-filled memory from the operating system's page allocator (VirtualAlloc on
// Windows; blocks smaller than its 64 KiB step come from a heap of their own, so that many
// small thumbnails do not use up a 32-bit address space). Returns nullptr on failure or for
// size 0.
void* pageAlloc(size_t size);
// Releases a block from pageAlloc; nullptr is ignored.
void pageFree(void* block);

// A read-only view of a whole file. The handles are opaque to the core.
struct MappedFile {
    const uint8_t* data = nullptr;
    uint32_t size = 0;
    void* fileHandle = nullptr;     // Windows: HANDLE; POSIX: fd + 1 (0 = none)
    void* mappingHandle = nullptr;  // Windows: mapping HANDLE; POSIX: unused
};
// Opens the file with read sharing and maps all of it. Fails (returns false, leaves
// nothing open) for missing, unreadable, empty or over-4-GiB files.
bool mapFile(const wchar_t* path, MappedFile& file);
// Unmaps and closes whatever mapFile left open; safe to call on a cleared record.
void unmapFile(MappedFile& file);

// A read-only file whose parts are mapped one view at a time, so that reading a large file
// needs no single block of address space as large as the file. Opened with read and delete
// sharing. A view covers [offset, offset + size) of the file; mapView hands back the address
// of offset (nullptr on failure or outside the file), and the base and length to give to
// unmapView.
class FileViews {
public:
    FileViews() = default;
    ~FileViews() { close(); }
    FileViews(const FileViews&) = delete;
    FileViews& operator=(const FileViews&) = delete;

    bool open(const wchar_t* path);
    void close();
    bool isOpen() const { return fileHandle_ != nullptr; }
    uint64_t size() const { return size_; }
    const uint8_t* mapView(uint64_t offset, size_t size, void*& base, size_t& length);
    void unmapView(void* base, size_t length);
    // Views start at multiples of this (the system's allocation granularity).
    static size_t granularity();

private:
    void* fileHandle_ = nullptr;     // Windows: HANDLE; POSIX: fd + 1
    void* mappingHandle_ = nullptr;  // Windows only
    uint64_t size_ = 0;
};

bool pathExists(const wchar_t* path);
bool isDirectory(const wchar_t* path);
// Something that exists and is no directory; false for a null or empty path.
bool isFile(const wchar_t* path);
// Last-write time as the file's directory entry reports it.
bool getLastWriteTime(const wchar_t* path, FileTime& time);
// Sets a file's last-write time (tests and tools use it to simulate touched files).
bool setLastWriteTime(const wchar_t* path, const FileTime& time);

// Whole-file helpers. writeWholeFile creates or truncates.
bool readWholeFile(const wchar_t* path, std::string& bytes);
bool writeWholeFile(const wchar_t* path, const void* data, size_t size);
bool deleteFileAt(const wchar_t* path);
bool createDirectoryAt(const wchar_t* path);
// Puts source in target's place in one step, replacing target if it exists; a failure
// leaves target as it was.
bool replaceFileWith(const wchar_t* source, const wchar_t* target);

// What the layer holds at this moment: page blocks not yet freed and open file handles
// (mapped files count their file and mapping handles). Soak tests watch them for leaks.
struct PlatformLiveCounts {
    long pageBlocks = 0;
    long fileHandles = 0;
};
PlatformLiveCounts platformLiveCounts();

// A plain binary file for sequential and positioned I/O (the cache files).
class BinaryFile {
public:
    enum Mode { ReadOnly, ReadWriteExisting, CreateTruncate, OpenOrCreate };
    BinaryFile() = default;
    ~BinaryFile() { close(); }
    BinaryFile(const BinaryFile&) = delete;
    BinaryFile& operator=(const BinaryFile&) = delete;

    bool open(const wchar_t* path, Mode mode);
    void close();
    bool isOpen() const { return handle_ != nullptr; }
    // Reads exactly size bytes; false on a short read.
    bool read(void* buffer, size_t size);
    bool write(const void* buffer, size_t size);
    bool seek(uint64_t offset);
    uint64_t size() const;
    uint64_t tell() const;
    // Cuts the file at the current position.
    bool truncateHere();

private:
    void* handle_ = nullptr;  // Windows: HANDLE; POSIX: fd + 1
};

// Wide <-> UTF-8 helpers for the native side, tools and tests.
std::string wideToUtf8(const std::wstring& text);
std::wstring utf8ToWide(const std::string& text);
