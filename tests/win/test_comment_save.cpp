// Saving a comment into an image file through the temporary file and the recycle bin,
// including the failures in which the previous file must survive.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "base/messages.h"
#include "base/platform.h"
#include "image/image_comment.h"

namespace {

std::string jpegFile(const std::string& marker) {
    // SOI, APP0 (carrying a marker that tells the versions apart), SOS, EOI.
    std::string app0 = std::string("JFIF\0", 5) + marker;
    return std::string("\xFF\xD8\xFF\xE0", 4) + char((app0.size() + 2) >> 8) + char(app0.size() + 2) + app0 +
           std::string("\xFF\xDA\x00\x02\xFF\xD9", 6);
}

class CommentSave : public ::testing::Test {
protected:
    void SetUp() override {
        wchar_t dir[MAX_PATH];
        GetTempPathW(MAX_PATH, dir);
        folder_ = std::wstring(dir) + L"pravel_comment_save_" + std::to_wstring(GetCurrentProcessId());
        CreateDirectoryW(folder_.c_str(), nullptr);
        path_ = folder_ + L"\\photo.jpg";
        original_ = jpegFile("original " + std::to_string(GetTickCount()));
        ASSERT_TRUE(writeWholeFile(path_.c_str(), original_.data(), original_.size()));
    }
    void TearDown() override {
        SetFileAttributesW(path_.c_str(), FILE_ATTRIBUTE_NORMAL);
        DeleteFileW(path_.c_str());
        RemoveDirectoryW(folder_.c_str());
    }
    std::string contents() const {
        std::string bytes;
        readWholeFile(path_.c_str(), bytes);
        return bytes;
    }
public:
    std::wstring folder_, path_;
    std::string original_;
};

// Whether a file with these exact bytes is in the recycle bin. These tests run under Wine,
// whose recycle bin is the freedesktop trash of the Unix user ($XDG_DATA_HOME or
// ~/.local/share, "Trash/files"). A found copy is removed with its ".trashinfo" record so
// that test runs do not pile up there.
bool inRecycleBin(const std::string& bytes) {
    wchar_t value[MAX_PATH] = {};
    std::wstring data;
    if (GetEnvironmentVariableW(L"XDG_DATA_HOME", value, MAX_PATH)) {
        data = std::wstring(L"Z:") + value;
    } else if (GetEnvironmentVariableW(L"WINEHOMEDIR", value, MAX_PATH)) {  // e.g. \??\Z:\home\user
        data = value;
        if (data.rfind(L"\\??\\", 0) == 0) data.erase(0, 4);
        data += L"\\.local\\share";
    } else {
        return false;  // not Wine
    }
    const std::wstring trash = data + L"/Trash";
    WIN32_FIND_DATAW found;
    HANDLE find = FindFirstFileW((trash + L"/files/*").c_str(), &found);
    if (find == INVALID_HANDLE_VALUE) return false;
    bool hit = false;
    do {
        const std::wstring file = trash + L"/files/" + found.cFileName;
        std::string stored;
        if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && readWholeFile(file.c_str(), stored) && stored == bytes) {
            hit = true;
            SetFileAttributesW(file.c_str(), FILE_ATTRIBUTE_NORMAL);
            DeleteFileW(file.c_str());
            DeleteFileW((trash + L"/info/" + found.cFileName + L".trashinfo").c_str());
        }
    } while (!hit && FindNextFileW(find, &found));
    FindClose(find);
    return hit;
}

}  // namespace

TEST_F(CommentSave, ReplacesTheFileAndRecyclesTheOriginal) {
    CommentSaveOutcome outcome = saveCommentToFile(path_.c_str(), FormatJpeg, L"first line\r\nsecond");
    EXPECT_TRUE(outcome.changed);
    EXPECT_EQ(outcome.count, 1);
    EXPECT_EQ(outcome.message, L"");
    EXPECT_EQ(readComment(path_.c_str(), FormatJpeg), "first line\r\nsecond");
    EXPECT_TRUE(inRecycleBin(original_));

    // Removing it again, then saving an empty comment into a file without one.
    const std::string commented = contents();
    outcome = saveCommentToFile(path_.c_str(), FormatJpeg, L"");
    EXPECT_TRUE(outcome.changed);
    EXPECT_EQ(outcome.count, -1);
    EXPECT_EQ(contents(), original_);
    EXPECT_TRUE(inRecycleBin(commented));
    FileTime before, after;
    getLastWriteTime(path_.c_str(), before);
    outcome = saveCommentToFile(path_.c_str(), FormatJpeg, L"");
    EXPECT_FALSE(outcome.changed);
    EXPECT_EQ(outcome.message, L"");
    getLastWriteTime(path_.c_str(), after);
    EXPECT_EQ(before.value(), after.value());
}

TEST_F(CommentSave, ReadOnlyTargetIsNeverLost) {
    ASSERT_TRUE(SetFileAttributesW(path_.c_str(), FILE_ATTRIBUTE_READONLY));
    const CommentSaveOutcome outcome = saveCommentToFile(path_.c_str(), FormatJpeg, L"note");
    if (outcome.changed) {
        EXPECT_EQ(readComment(path_.c_str(), FormatJpeg), "note");
        EXPECT_TRUE(inRecycleBin(original_));
    } else {
        EXPECT_EQ(outcome.message, messageText(MsgDeleteFailed));
        EXPECT_EQ(contents(), original_);
    }
}

TEST_F(CommentSave, VanishedSource) {
    // Gone before the save: nothing is written, the rewrite's failure is reported.
    DeleteFileW(path_.c_str());
    CommentSaveOutcome outcome = saveCommentToFile(path_.c_str(), FormatJpeg, L"note");
    EXPECT_FALSE(outcome.changed);
    EXPECT_EQ(outcome.message, imageErrorMessage(5));
    EXPECT_FALSE(pathExists(path_.c_str()));

    // Gone after the rewrite: the new version takes the empty place.
    ASSERT_TRUE(writeWholeFile(path_.c_str(), original_.data(), original_.size()));
    auto removeSource = [](void* self, const wchar_t*) { DeleteFileW(static_cast<CommentSave*>(self)->path_.c_str()); };
    outcome = saveCommentToFile(path_.c_str(), FormatJpeg, L"note", removeSource, this);
    EXPECT_TRUE(outcome.changed);
    EXPECT_EQ(readComment(path_.c_str(), FormatJpeg), "note");
}

TEST_F(CommentSave, FailuresAfterTheRewriteKeepAWholeImage) {
    // The original cannot go to the recycle bin (held open without delete sharing):
    // it is not overwritten.
    static HANDLE held;
    auto holdSource = [](void* self, const wchar_t*) {
        held = CreateFileW(static_cast<CommentSave*>(self)->path_.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                           OPEN_EXISTING, 0, nullptr);
    };
    CommentSaveOutcome outcome = saveCommentToFile(path_.c_str(), FormatJpeg, L"note", holdSource, this);
    CloseHandle(held);
    if (!outcome.changed) {
        EXPECT_EQ(outcome.message, messageText(MsgDeleteFailed));
        EXPECT_EQ(contents(), original_);
    } else {
        // Wine moves the file to its trash despite the open handle; then it must be there.
        EXPECT_TRUE(inRecycleBin(original_));
    }

    // The new version cannot be copied back (its temporary file is held exclusively): the
    // original is in the recycle bin and the new version stays in the temporary file.
    original_ = jpegFile("second original");
    SetFileAttributesW(path_.c_str(), FILE_ATTRIBUTE_NORMAL);
    ASSERT_TRUE(writeWholeFile(path_.c_str(), original_.data(), original_.size()));
    auto holdTemp = [](void*, const wchar_t* temp) {
        held = CreateFileW(temp, GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    };
    outcome = saveCommentToFile(path_.c_str(), FormatJpeg, L"kept", holdTemp, this);
    CloseHandle(held);
    ASSERT_FALSE(outcome.changed);
    ASSERT_FALSE(outcome.keptFile.empty());
    EXPECT_EQ(outcome.message, std::wstring(messageText(MsgCreateFailed)) + L"\r\n" + outcome.keptFile);
    EXPECT_EQ(readComment(outcome.keptFile.c_str(), FormatJpeg), "kept");
    EXPECT_TRUE(inRecycleBin(original_));
    DeleteFileW(outcome.keptFile.c_str());
}
